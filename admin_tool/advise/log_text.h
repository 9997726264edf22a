// The small text tools of the kernel-log reader: lines as they come, of any length and any bytes,
// read through string_views and never copied whole.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace scsi_timeouts_tool {

// Of a line: a kernel message is at most about 1 KiB, a journal record of one a few. A longer
// line is counted and skipped, so that a line of any length is read in bounded memory.
constexpr std::size_t max_line = std::size_t{16} * 1024;
// Of a message kept for an unnamed timeout.
constexpr std::size_t max_excerpt = 240;
// Of a device, a timestamp or a command address kept: a crafted line of a MiB must not make
// every kept event a MiB.
constexpr std::size_t max_field = 64;

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool isLower(char c) {
    return c >= 'a' && c <= 'z';
}
inline bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

inline bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// memmem: the substrings looked for are short, the lines as long as they come.
std::size_t find(std::string_view s, std::string_view what);
inline bool contains(std::string_view s, std::string_view what) {
    return find(s, what) != std::string_view::npos;
}

// Digits at `at`, how many; `value` saturates.
std::size_t digitsAt(std::string_view s, std::size_t at, int64_t& value);
std::size_t digitsAt(std::string_view s, std::size_t at);

// The number after `key` that ends in `unit` ("timeout " 60000 " ms"); -1 when absent.
int64_t numberAfter(std::string_view s, std::string_view key, std::string_view unit);

// Up to the first space.
inline std::string_view token(std::string_view t) {
    return t.substr(0, std::min(t.find(' '), t.size()));
}

// At most `size` bytes of `text`, never ending inside a UTF-8 sequence.
std::string_view cutText(std::string_view text, std::size_t size);
// A message as an unnamed timeout keeps it.
inline std::string excerpt(std::string_view text) {
    return std::string(cutText(text, max_excerpt));
}
// A device, timestamp or address as an event keeps it.
inline std::string keptField(std::string_view text) {
    return std::string(cutText(text, max_field));
}

}  // namespace scsi_timeouts_tool
