// Names compared as the system compares registry values, initialisation
// file keys and settings-file keys: ASCII letters in either case are the
// same.
#pragma once

#include <string_view>

namespace tav::platform {

inline char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

inline bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

}  // namespace tav::platform
