// One hexadecimal digit, in either case: its value, or -1. Shared by the NAME reader and the
// kernel-log reader, which both read bytes as the kernel prints them.
#pragma once

namespace scsi_timeouts_tool {

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

}  // namespace scsi_timeouts_tool
