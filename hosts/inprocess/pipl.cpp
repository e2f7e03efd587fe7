#include "hosts/inprocess/pipl.h"

#include <cstring>

#include "interface/host_interface.h"

namespace tav::inprocess {
namespace {

template <typename T>
T Read(const std::vector<uint8_t>& bytes, size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);  // little-endian, as stored
    return value;
}

}  // namespace

const PiPLProperty* PiPL::Find(uint32_t key) const {
    for (const PiPLProperty& property : properties)
        if (property.key == key) return &property;
    return nullptr;
}

std::optional<PiPL> ParsePiPL(const std::vector<uint8_t>& bytes, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<PiPL> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (bytes.size() < 10) return fail("shorter than the 10-byte header");
    PiPL pipl;
    pipl.header = Read<int16_t>(bytes, 0);
    pipl.version = Read<int32_t>(bytes, 2);
    int32_t count = Read<int32_t>(bytes, 6);
    if (count < 0 || count > 1000) return fail("implausible property count");
    size_t at = 10;
    for (int32_t i = 0; i < count; ++i) {
        if (at + 16 > bytes.size()) return fail("property header past the end");
        PiPLProperty property;
        property.vendor = Read<uint32_t>(bytes, at);
        property.key = Read<uint32_t>(bytes, at + 4);
        property.id = Read<int32_t>(bytes, at + 8);
        property.length = Read<int32_t>(bytes, at + 12);
        if (property.length < 0 || at + 16 + size_t(property.length) > bytes.size())
            return fail("property data past the end");
        property.data.assign(bytes.begin() + ptrdiff_t(at + 16),
                             bytes.begin() + ptrdiff_t(at + 16 + size_t(property.length)));
        at += 16 + size_t(property.length);
        pipl.properties.push_back(std::move(property));
    }
    return pipl;
}

std::string EntryName(const PiPLProperty& property) {
    std::string name;
    for (uint8_t c : property.data) {
        if (c == 0) break;
        name.push_back(char(c));
    }
    return name;
}

std::string PascalText(const PiPLProperty& property) {
    if (property.data.empty()) return {};
    size_t length = property.data[0];
    if (length + 1 > property.data.size()) return {};
    return std::string(property.data.begin() + 1, property.data.begin() + 1 + ptrdiff_t(length));
}

std::vector<std::string> CheckFilterPiPL(const PiPL& pipl, bool x64) {
    std::vector<std::string> problems;
    auto need = [&](bool ok, const std::string& what) {
        if (!ok) problems.push_back(what);
    };
    need(pipl.header == 1, "header word is not 1");
    need(pipl.version == 0, "version is not 0");
    for (const PiPLProperty& property : pipl.properties) {
        need(property.vendor == FourCC("8BIM"), "a property's vendor is not 8BIM");
        need(property.length % 4 == 0, "a property length is not a multiple of 4");
    }
    auto u32 = [](const PiPLProperty* p) {
        uint32_t v = 0;
        if (p && p->data.size() >= 4) std::memcpy(&v, p->data.data(), 4);
        return v;
    };
    const PiPLProperty* kind = pipl.Find(FourCC("kind"));
    need(kind && u32(kind) == FourCC("8BFM"), "kind is not 8BFM");
    const PiPLProperty* vers = pipl.Find(FourCC("vers"));
    need(vers && u32(vers) == 0x00040000, "vers is not 4.0");
    const PiPLProperty* mode = pipl.Find(FourCC("mode"));
    need(mode && mode->data.size() == 4 && mode->data[0] == 0x10 && mode->data[1] == 0 &&
             mode->data[2] == 0 && mode->data[3] == 0,
         "mode is not RGB only");
    const PiPLProperty* fici = pipl.Find(FourCC("fici"));
    bool ficiOk = fici && fici->data.size() == 28;
    for (size_t i = 0; ficiOk && i < 7; ++i) {
        const uint8_t* e = &fici->data[i * 4];
        ficiOk = e[0] == 1 && e[1] == 1 && e[2] == 1 && e[3] == 0;
    }
    need(ficiOk, "fici is not seven cases of 01 01 01 00");
    const PiPLProperty* name = pipl.Find(FourCC("name"));
    need(name && PascalText(*name) == "Tavrisk...", "name is not \"Tavrisk...\"");
    const PiPLProperty* catg = pipl.Find(FourCC("catg"));
    need(catg && PascalText(*catg) == "Brackwater", "catg is not \"Brackwater\"");
    const PiPLProperty* entry = pipl.Find(FourCC(x64 ? "8664" : "wx86"));
    need(entry && EntryName(*entry) == "ENTRYPOINT",
         std::string("no ") + (x64 ? "8664" : "wx86") + " entry ENTRYPOINT");
    need(pipl.Find(FourCC(x64 ? "wx86" : "8664")) == nullptr,
         "entry property of the other architecture present");
    return problems;
}

}  // namespace tav::inprocess
