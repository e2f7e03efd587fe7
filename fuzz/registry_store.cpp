// The POSIX registry stand-in's key files on arbitrary contents and
// arbitrary writes. The fuzzed input chooses a store, a subkey, the text its
// key file holds beforehand, then a series of value writes, reads and
// reopenings of the key (named in another letter case). Whatever the file
// held, every read answers, and answers as a model of the key does: a value
// reads back exactly as it was last written (type, size and bytes), and
// values read from the file before stay as they were read while other
// values are written. Reads with a buffer of exactly the value's size
// succeed and one byte less fails with the size reported.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/names.h"
#include "platform/registry.h"

namespace {

namespace platform = tav::platform;

struct Value {
    bool present = false;
    uint32_t type = 0;
    std::string data;
    bool operator==(const Value&) const = default;
};

std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = platform::FoldCase(c);
    return folded;
}

std::string SwapCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

// The value as the key gives it, read both ways: the size and type alone,
// then the bytes into a block of exactly that size (AddressSanitizer
// catches a write past it) and into one a byte too small.
Value Query(platform::RegistryKey key, const std::string& name) {
    Value value;
    uint32_t size = 0;
    if (!platform::QueryRegistryValue(key, name.c_str(), nullptr, &value.type, &size)) {
        uint32_t type = 0, capacity = 0;
        char byte;
        FUZZ_CHECK(!platform::QueryRegistryValue(key, name.c_str(), &byte, &type, &capacity));
        return value;
    }
    value.present = true;
    std::unique_ptr<char[]> bytes(new char[size]);
    uint32_t type = ~value.type, capacity = size;
    FUZZ_CHECK(platform::QueryRegistryValue(key, name.c_str(), bytes.get(), &type, &capacity));
    FUZZ_CHECK(type == value.type && capacity == size);
    value.data.assign(bytes.get(), size);
    if (size > 0) {
        std::unique_ptr<char[]> shortBlock(new char[size - 1]);
        capacity = size - 1;
        FUZZ_CHECK(!platform::QueryRegistryValue(key, name.c_str(), shortBlock.get(), nullptr, &capacity));
        FUZZ_CHECK(capacity == size);
    }
    return value;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The names on the lines of a key file: what comes before the first '=',
// with %XX decoded. Lines whose name does not decode give none.
std::vector<std::string> NamesIn(std::string_view text) {
    std::vector<std::string> names;
    for (std::string_view line : tav::fuzz::SplitLines(text)) {
        std::string_view encoded = line.substr(0, line.find('='));
        std::string name;
        bool ok = true;
        for (size_t i = 0; ok && i < encoded.size(); ++i) {
            if (encoded[i] != '%') {
                name += encoded[i];
                continue;
            }
            ok = i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 && HexValue(encoded[i + 2]) >= 0;
            if (ok) name += char(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2]));
            i += 2;
        }
        if (ok) names.push_back(name);
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tav::fuzz::UsePrivateSettingsStores();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool machine = in.ConsumeBool();
    const platform::RegistryRoot root = machine ? platform::RegistryRoot::LocalMachine
                                                : platform::RegistryRoot::CurrentUser;
    const std::string store = tav::fuzz::PrivateFolder() + (machine ? "/machine" : "/user");
    const std::string subkey = in.ConsumeRandomLengthString(100).c_str();
    const std::string contents = in.ConsumeRandomLengthString(4096);

    tav::fuzz::ClearFolder(store);
    platform::RegistryKey key = platform::CreateRegistryKey(root, subkey.c_str());
    if (key == platform::kNoRegistryKey) {
        // Only a name that starts at the root, or is too long for a file
        // name once escaped, has no key.
        FUZZ_CHECK(subkey[0] == '\\' || subkey.size() > 80);
        return 0;
    }
    // Opening makes nothing; the first write makes the key's file.
    FUZZ_CHECK(!platform::RegistryKeyExists(root, SwapCase(subkey).c_str()));
    const uint32_t seed = 0;
    FUZZ_CHECK(platform::SetRegistryValue(key, "", platform::kRegistryNumber, &seed, sizeof seed));
    FUZZ_CHECK(platform::RegistryKeyExists(root, SwapCase(subkey).c_str()));
    const std::vector<std::string> files = tav::fuzz::FilesIn(store);
    FUZZ_CHECK(files.size() == 1);
    tav::fuzz::WriteFile(store + "/" + files[0], contents);

    // The model: what each name (folded to lower case) reads as. Names are
    // C strings, so they end at a NUL.
    std::map<std::string, Value> model;
    auto observe = [&](const std::string& name) {
        Value value = Query(key, name);
        auto [place, added] = model.emplace(Folded(name), value);
        FUZZ_CHECK(place->second == value);
    };
    for (const std::string& name : NamesIn(contents)) observe(name.c_str());

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
        case 1: {
            const std::string name = in.ConsumeRandomLengthString(40).c_str();
            static constexpr uint32_t kTypes[] = {platform::kRegistryText, platform::kRegistryExpandableText,
                                                  platform::kRegistryBinary, platform::kRegistryNumber,
                                                  platform::kRegistryTextList, platform::kRegistryNumber64};
            const uint32_t type = in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<uint32_t>();
            const std::string bytes = in.ConsumeRandomLengthString(300);
            FUZZ_CHECK(platform::SetRegistryValue(key, name.c_str(), type, bytes.data(), uint32_t(bytes.size())));
            model[Folded(name)] = Value{true, type, bytes};
            break;
        }
        case 2:
            observe(SwapCase(in.ConsumeRandomLengthString(40).c_str()));
            break;
        case 3:
            platform::CloseRegistryKey(key);
            key = platform::CreateRegistryKey(root, SwapCase(subkey).c_str());
            FUZZ_CHECK(key != platform::kNoRegistryKey);
            FUZZ_CHECK(tav::fuzz::FilesIn(store).size() == 1);
            break;
        }
    }
    for (const auto& [name, value] : model) FUZZ_CHECK(Query(key, SwapCase(name)) == value);
    platform::CloseRegistryKey(key);
    return 0;
}
