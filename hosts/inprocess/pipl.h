// Reading a plug-in property list, as hosts do to find and accept a filter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tav::inprocess {

struct PiPLProperty {
    uint32_t vendor;
    uint32_t key;
    int32_t id;
    int32_t length;
    std::vector<uint8_t> data;  // `length` bytes
};

struct PiPL {
    int16_t header;
    int32_t version;
    std::vector<PiPLProperty> properties;

    const PiPLProperty* Find(uint32_t key) const;
};

// Parses the resource bytes. Steps from one property to the next by exactly
// 16 + length, as strict hosts do; fails (with `error` set) on anything that
// runs past the end.
std::optional<PiPL> ParsePiPL(const std::vector<uint8_t>& bytes, std::string* error);

// The C string in an entry-point property (`wx86`, `8664`).
std::string EntryName(const PiPLProperty& property);
// The text of a Pascal-string property (`name`, `catg`).
std::string PascalText(const PiPLProperty& property);

// Everything a host checks before it offers the filter: kind 8BFM, version
// 4.0, RGB-only mode, seven filter cases of straight data, name and category
// present, the entry key of the expected architecture, and every property
// length a multiple of 4. Returns the problems found (none: accepted).
std::vector<std::string> CheckFilterPiPL(const PiPL& pipl, bool x64);

}  // namespace tav::inprocess
