// The POSIX file mappings behind the large working buffers: released views of
// working buffers are kept for the next request of the same size, within caps,
// and let go, with their files, when a request shows the next run differs or
// when asked.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "hosts/inprocess/inprocess_host.h"
#include "runtime/allocator.h"
#include "runtime/capture.h"
#include "runtime/plugin_state.h"
#include "platform/file_mapping.h"
#include "tests/support.h"

namespace tav::platform {
namespace {

constexpr size_t kMiB = size_t(1) << 20;

struct View {
    FileHandle file;
    MappingHandle mapping;
    void* address;
};

std::string Folder() {
    char folder[kMaxPath];
    return GetTempFolder(folder, sizeof folder) ? std::string(folder) : std::string();
}

View Make(size_t size) {
    static unsigned unique = 0x700;
    char path[kMaxPath];
    if (!MakeTempFileName(Folder().c_str(), "map", ++unique, path)) return {kNoFile, kNoMapping, nullptr};
    View v{CreateTempFile(path), kNoMapping, nullptr};
    v.mapping = CreateMapping(v.file, size);
    v.address = MapWholeView(v.mapping);
    return v;
}

void Release(const View& v) {
    UnmapView(v.address, v.mapping);
    CloseMapping(v.mapping);
    CloseTempFile(v.file);
}

// The addresses of the views of this process's temporary files mapped now.
std::set<void*> MappedAddresses() {
    const std::string folder = Folder();
    std::ifstream maps("/proc/self/maps");
    std::set<void*> addresses;
    for (std::string line; std::getline(maps, line);)
        if (line.find(folder) != std::string::npos)
            addresses.insert(reinterpret_cast<void*>(std::stoull(line.substr(0, line.find('-')), nullptr, 16)));
    return addresses;
}

// The views of this process's temporary files mapped now and the descriptors
// open on them, which keep an unlinked file's blocks: two a buffer.
int Held() {
    std::error_code e;
    int open = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        open += std::filesystem::read_symlink(fd, e).string().starts_with(Folder());
    return int(MappedAddresses().size()) + open;
}

std::set<void*> Addresses(const std::vector<View>& views) {
    std::set<void*> addresses;
    for (const View& v : views) addresses.insert(v.address);
    return addresses;
}

TEST(PosixFileMappingTest, ReleasedLargeViewsServeTheNextRunOfTheSameSizes) {
    ASSERT_FALSE(Folder().empty());
    ReleaseKeptViews();
    const int before = Held();
    // A run's buffers: two of one size, two of another.
    const size_t sizes[] = {12 * kMiB, 12 * kMiB, 4 * kMiB, 4 * kMiB};
    std::vector<View> run;
    for (size_t size : sizes) run.push_back(Make(size));
    for (size_t i = 0; i < run.size(); ++i) {
        ASSERT_NE(run[i].address, nullptr);
        std::memset(run[i].address, int(i + 1), sizes[i]);
    }
    const std::set<void*> first = Addresses(run);
    for (const View& v : run) Release(v);
    EXPECT_EQ(Held(), before + 8);  // kept, not unlinked files on disk

    std::vector<View> again;
    for (size_t size : sizes) again.push_back(Make(size));
    EXPECT_EQ(Addresses(again), first);
    EXPECT_EQ(Addresses(again).size(), 4u);  // two live views never share
    for (size_t i = 0; i < again.size(); ++i) {
        // Each is whole and writable to its end, and its own.
        auto* bytes = static_cast<uint8_t*>(again[i].address);
        bytes[sizes[i] - 1] = uint8_t(0x40 + i);
    }
    for (size_t i = 0; i < again.size(); ++i)
        EXPECT_EQ(static_cast<uint8_t*>(again[i].address)[sizes[i] - 1], 0x40 + i);
    for (const View& v : again) Release(v);

    // A run of other sizes: the kept views go before new memory is taken.
    View other = Make(6 * kMiB);
    ASSERT_NE(other.address, nullptr);
    EXPECT_EQ(Held(), before + 2);
    Release(other);

    // At most four are kept, small ones too (a 1080p run's mattes).
    std::vector<View> five;
    for (int i = 0; i < 5; ++i) five.push_back(Make(6 * kMiB));
    for (const View& v : five) Release(v);
    EXPECT_EQ(Held(), before + 8);
    void* small = AllocLargeBuffer(kMiB);
    EXPECT_EQ(Held(), before + 2);  // the miss let the others go
    FreeLargeBuffer(small);
    EXPECT_EQ(Held(), before + 2);
    EXPECT_EQ(AllocLargeBuffer(kMiB), small);  // the same view again
    FreeLargeBuffer(small);
    ReleaseKeptViews();
    EXPECT_EQ(Held(), before);

    // A process that will ask for no more lets the kept views go at once.
    Release(Make(6 * kMiB));
    EXPECT_EQ(Held(), before + 2);
    ReleaseKeptViews();
    EXPECT_EQ(Held(), before);
}

// A program that runs the plug-in in its own process can fault in a run's
// working images ahead of it; the run's capture then takes those very views.
TEST(PosixFileMappingTest, PreparedWorkingMemoryIsWhatTheNextRunTakes) {
    ReleaseKeptViews();
    const std::set<void*> before = MappedAddresses();
    const int width = 2000, height = 1200;  // images of 7.2 MB
    inprocess::InProcessHost::PrepareWorkingMemory(width, height);
    std::set<void*> prepared = MappedAddresses();
    for (void* address : before) prepared.erase(address);
    ASSERT_EQ(prepared.size(), 2u);

    test::PreparedRun run(width, height, 3, std::vector<uint8_t>(size_t(width) * height * 3, 90));
    ASSERT_TRUE(CaptureImage(&run.state));
    EXPECT_EQ((std::set<void*>{run.state.sourceImage, run.state.foregroundImage}), prepared);
}

}  // namespace
}  // namespace tav::platform
