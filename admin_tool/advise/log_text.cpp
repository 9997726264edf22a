#include "log_text.h"

#include <cstring>

namespace scsi_timeouts_tool {

std::size_t find(std::string_view s, std::string_view what) {
    if (s.size() < what.size()) {
        return std::string_view::npos;  // also an empty view, whose data may be null
    }
    const void* at = ::memmem(s.data(), s.size(), what.data(), what.size());
    return at == nullptr ? std::string_view::npos
                         : static_cast<std::size_t>(static_cast<const char*>(at) - s.data());
}

std::size_t digitsAt(std::string_view s, std::size_t at, int64_t& value) {
    std::size_t n = 0;
    value = 0;
    while (at + n < s.size() && isDigit(s[at + n])) {
        value = std::min<int64_t>(value * 10 + (s[at + n] - '0'), INT64_C(1) << 40);
        ++n;
    }
    return n;
}

std::size_t digitsAt(std::string_view s, std::size_t at) {
    int64_t ignored = 0;
    return digitsAt(s, at, ignored);
}

int64_t numberAfter(std::string_view s, std::string_view key, std::string_view unit) {
    const std::size_t at = find(s, key);
    if (at == std::string_view::npos) {
        return -1;
    }
    int64_t value = 0;
    const std::size_t n = digitsAt(s, at + key.size(), value);
    return n > 0 && s.substr(at + key.size() + n, unit.size()) == unit ? value : -1;
}

std::string_view cutText(std::string_view text, std::size_t size) {
    if (text.size() <= size) {
        return text;
    }
    std::size_t end = size;
    // Back to the start of the sequence the cut falls in: at most three continuation bytes.
    while (end > 0 && end + 3 > size && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

}  // namespace scsi_timeouts_tool
