// Hexadecimal digits, in either case. Shared by the NAME reader and the kernel-log reader, which
// both read bytes as the kernel prints them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace scsi_timeouts_tool {

// One digit's value, or -1.
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The digits that start `text`, at most `max_digits` of them: how many, and their `value`.
inline std::size_t hexNumber(std::string_view text, std::size_t max_digits, uint64_t& value) {
    std::size_t n = 0;
    value = 0;
    while (n < text.size() && n < max_digits && hexDigit(text[n]) >= 0) {
        value = value * 16 + static_cast<uint64_t>(hexDigit(text[n++]));
    }
    return n;
}

}  // namespace scsi_timeouts_tool
