#include "tests/support.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/keying.h"
#include "runtime/allocator.h"
#include "runtime/parameters.h"
#include "platform/registry.h"
#include "ui/registry.h"

namespace tav::test {
PluginState* StoredState(inprocess::InProcessHost& host) {
    return static_cast<PluginState*>(MacHandleData(reinterpret_cast<Handle>(host.dataWord())));
}

PreparedRun::PreparedRun(int width, int height, int planes, std::vector<uint8_t> pixels)
    : host(ENTRYPOINT), state{} {
    ResetRunStartValues(&state);
    host.recording = true;
    host.SetImage(width, height, planes, std::move(pixels));
    host.Call(filterSelectorParameters);
    Prepare();
    previous_ = host.Activate();
}

PreparedRun::~PreparedRun() {
    ReleaseRunBuffers(&state);
    inprocess::InProcessHost::Deactivate(previous_);
}

void PreparedRun::Prepare() {
    ReleaseRunBuffers(&state);
    host.Call(filterSelectorPrepare);
    state = *StoredState(host);
    state.filterRecord = &host.record();
}

void PreparedRun::Select(int left, int top, int right, int bottom) {
    host.SetFilterRect(left, top, right, bottom);
    Prepare();
}

ParameterRecord& PreparedRun::parameters() { return *GetParameters(&host.record()); }

CaptureStatistics PlainStatistics(const std::vector<uint8_t>& rgb) {
    CaptureStatistics c{0, 0, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const int r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
        c.greenSum += g, c.blueSum += b;
        c.leastGreenKey = std::min(c.leastGreenKey, 2 * g - b - r);
        c.mostGreenKey = std::max(c.mostGreenKey, 2 * g - b - r);
        c.leastBlueKey = std::min(c.leastBlueKey, 2 * b - g - r);
        c.mostBlueKey = std::max(c.mostBlueKey, 2 * b - g - r);
    }
    return c;
}

KeyRange PlainKeyRange(const std::vector<uint8_t>& rgb, bool green) {
    KeyRange range = kNoKeyRange;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const int raw = RawMatteValue(rgb[i], rgb[i + 1], rgb[i + 2], green);
        range = {std::min(range.minimum, raw), std::max(range.maximum, raw)};
    }
    return range;
}

std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, int width,
                            int planes) {
    if (got.size() != want.size()) return "sizes differ";
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i] != want[i])
            return "first difference at x=" + std::to_string(i / planes % width) + " y=" +
                   std::to_string(i / planes / width) + (planes > 1 ? " byte " + std::to_string(i % planes) : "") +
                   ": got " + std::to_string(got[i]) + ", want " + std::to_string(want[i]);
    return "";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

RawValue Text(const std::string& text) { return {platform::kRegistryText, text + '\0'}; }

RawValue Number(uint32_t value) {
    return {platform::kRegistryNumber, {char(value), char(value >> 8), char(value >> 16), char(value >> 24)}};
}

std::optional<RawValue> StoredSetting(const char* key, const char* name) {
    std::vector<char> buffer(4096);
    uint32_t type = 0, size = uint32_t(buffer.size());
    if (QuerySettingsValue(key, name, buffer.data(), &type, &size) != 1) return std::nullopt;
    return RawValue{type, std::string(buffer.data(), size)};
}

bool StoreSetting(const char* key, const char* name, const RawValue& value) {
    return WriteSettingsValue(key, name, value.bytes.data(), value.type, uint32_t(value.bytes.size())) == 1;
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrisk-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    // Tests may leave folders without write permission behind.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnvironment::ScopedEnvironment(const char* name, std::optional<std::string> value)
    : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_)
        setenv(name_.c_str(), previous_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

ScopedSettingsStores::ScopedSettingsStores()
    : user_("TAVRISK_USER_STORE", folder_.Path("user")),
      machine_("TAVRISK_MACHINE_STORE", folder_.Path("machine")) {}

}  // namespace tav::test
