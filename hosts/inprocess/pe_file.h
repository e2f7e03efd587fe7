// Reading a Windows PE file on any platform: what tests need to check a
// built plug-in without running it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tav::inprocess {

struct PeFile {
    bool x64 = false;
    std::vector<uint8_t> bytes;
};

std::optional<PeFile> ReadPeFile(const std::string& path, std::string* error);

// The data of the first language of resource (type name, numeric id); type
// names compare case-insensitively, as the system's lookup does.
std::optional<std::vector<uint8_t>> FindPeResource(const PeFile& pe, const std::string& type,
                                                   uint16_t id, std::string* error);

}  // namespace tav::inprocess
