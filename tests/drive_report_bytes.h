// A drive's REPORT SUPPORTED OPERATION CODES response built byte by byte from its layout, for the
// tests of its reader and of advise.
#pragma once

#include <cstdint>
#include <string>

using Bytes = std::string;

template <int n>
Bytes be(uint32_t v) {
    Bytes out;
    for (int i = n - 1; i >= 0; --i) {
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return out;
}

// A command descriptor; with `timeouts`, its timeouts descriptor of length `length`.
struct Command {
    unsigned char op;
    uint32_t nominal;
    uint32_t recommended;
    bool timeouts = true;
    int sa = -1;
    unsigned char other_flags = 0;
    uint32_t length = 10;
};
inline Bytes cmd(const Command& c) {
    const auto flags =
        static_cast<unsigned char>((c.sa >= 0 ? 1 : 0) | (c.timeouts ? 2 : 0) | c.other_flags);
    Bytes d = be<1>(c.op) + be<1>(0) + be<2>(c.sa >= 0 ? static_cast<uint32_t>(c.sa) : 0) +
              be<1>(0) + be<1>(flags) + be<2>(16);
    return c.timeouts ? d + be<2>(c.length) + be<2>(0) + be<4>(c.nominal) + be<4>(c.recommended)
                      : d;
}
inline Bytes report(const Bytes& body, int extra_length = 0) {
    return be<4>(static_cast<uint32_t>(static_cast<int>(body.size()) + extra_length)) + body;
}
