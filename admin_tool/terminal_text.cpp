#include "terminal_text.h"

namespace scsi_timeouts_tool {

std::string escapedByte(unsigned char c) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("\\x") + digits[c >> 4] + digits[c & 0xF];
}

std::string quoted(const char* text) {
    std::string out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        if (*p == '"' || *p == '\\') {
            out += '\\';
            out += static_cast<char>(*p);
        } else if (unsafeByte(*p)) {
            out += escapedByte(*p);
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out + "\"";
}

std::string terminalSafe(const std::string& message) {
    std::string out;
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        out += unsafeByte(byte) ? escapedByte(byte) : std::string(1, c);
    }
    return out;
}

}  // namespace scsi_timeouts_tool
