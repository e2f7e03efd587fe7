#include "hosts/inprocess/pe_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tav::inprocess {
namespace {

struct Reader {
    const std::vector<uint8_t>& bytes;
    bool ok = true;

    template <typename T>
    T At(size_t offset) {
        T value{};
        if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
            ok = false;
            return value;
        }
        std::memcpy(&value, bytes.data() + offset, sizeof value);
        return value;
    }
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

}  // namespace

std::optional<PeFile> ReadPeFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return std::nullopt;
    }
    PeFile pe;
    pe.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    Reader r{pe.bytes};
    uint32_t peOffset = r.At<uint32_t>(0x3C);
    if (r.At<uint16_t>(0) != 0x5A4D || r.At<uint32_t>(peOffset) != 0x00004550 || !r.ok) {
        if (error) *error = path + " is not a PE file";
        return std::nullopt;
    }
    uint16_t magic = r.At<uint16_t>(peOffset + 24);
    pe.x64 = magic == 0x20B;
    return pe;
}

std::optional<std::vector<uint8_t>> FindPeResource(const PeFile& pe, const std::string& type,
                                                   uint16_t id, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<std::vector<uint8_t>> {
        if (error) *error = why;
        return std::nullopt;
    };
    Reader r{pe.bytes};
    uint32_t peOffset = r.At<uint32_t>(0x3C);
    uint16_t sectionCount = r.At<uint16_t>(peOffset + 6);
    uint16_t optionalSize = r.At<uint16_t>(peOffset + 20);
    size_t optional = peOffset + 24;
    size_t directories = optional + (pe.x64 ? 112 : 96);
    uint32_t resourceRva = r.At<uint32_t>(directories + 2 * 8);
    if (!r.ok || resourceRva == 0) return fail("no resource directory");

    std::vector<Section> sections;
    size_t table = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        size_t at = table + size_t(i) * 40;
        sections.push_back({r.At<uint32_t>(at + 12), r.At<uint32_t>(at + 8),
                            r.At<uint32_t>(at + 16), r.At<uint32_t>(at + 20)});
    }
    auto fileOffset = [&](uint32_t rva) -> std::optional<size_t> {
        for (const Section& s : sections)
            if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize))
                return size_t(s.rawOffset) + (rva - s.virtualAddress);
        return std::nullopt;
    };
    std::optional<size_t> base = fileOffset(resourceRva);
    if (!r.ok || !base) return fail("resource directory outside every section");

    // Finds the entry of one directory level whose name or id matches.
    auto findEntry = [&](size_t directory, const std::string* name, uint32_t number,
                         bool anyEntry) -> std::optional<uint32_t> {
        uint16_t named = r.At<uint16_t>(directory + 12);
        uint16_t numbered = r.At<uint16_t>(directory + 14);
        for (uint32_t i = 0; i < uint32_t(named) + numbered && r.ok; ++i) {
            size_t entry = directory + 16 + size_t(i) * 8;
            uint32_t nameField = r.At<uint32_t>(entry);
            uint32_t target = r.At<uint32_t>(entry + 4);
            if (anyEntry) return target;
            if (nameField & 0x80000000u) {
                if (name == nullptr) continue;
                size_t text = *base + (nameField & 0x7FFFFFFFu);
                uint16_t length = r.At<uint16_t>(text);
                std::string found;
                for (uint16_t k = 0; k < length; ++k)
                    found.push_back(char(r.At<uint16_t>(text + 2 + size_t(k) * 2)));
                if (found.size() != name->size()) continue;
                bool same = true;
                for (size_t k = 0; k < found.size(); ++k)
                    same = same && std::toupper(uint8_t(found[k])) == std::toupper(uint8_t((*name)[k]));
                if (same) return target;
            } else if (name == nullptr && nameField == number) {
                return target;
            }
        }
        return std::nullopt;
    };

    auto typeEntry = findEntry(*base, &type, 0, false);
    if (!typeEntry || !(*typeEntry & 0x80000000u)) return fail("no resource type " + type);
    auto idEntry = findEntry(*base + (*typeEntry & 0x7FFFFFFFu), nullptr, id, false);
    if (!idEntry || !(*idEntry & 0x80000000u)) return fail("no resource " + std::to_string(id));
    auto languageEntry = findEntry(*base + (*idEntry & 0x7FFFFFFFu), nullptr, 0, true);
    if (!languageEntry || (*languageEntry & 0x80000000u)) return fail("no resource language");
    size_t dataEntry = *base + *languageEntry;
    uint32_t dataRva = r.At<uint32_t>(dataEntry);
    uint32_t dataSize = r.At<uint32_t>(dataEntry + 4);
    std::optional<size_t> data = fileOffset(dataRva);
    if (!r.ok || !data || *data + dataSize > pe.bytes.size()) return fail("resource data outside the file");
    return std::vector<uint8_t>(pe.bytes.begin() + ptrdiff_t(*data),
                                pe.bytes.begin() + ptrdiff_t(*data + dataSize));
}

}  // namespace tav::inprocess
