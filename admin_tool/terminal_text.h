// User input and stored bytes as they may reach a terminal: quoted, with every control
// character (C0, DEL and the C1 range, where a lone 0x9B starts an escape sequence) and every
// byte above 0x7F written as \xNN.
#pragma once

#include <string>

namespace scsi_timeouts_tool {

// "\\x" and two hex digits.
std::string escapedByte(unsigned char c);

// Whether quoted() writes the byte as \xNN.
constexpr bool unsafeByte(unsigned char c) {
    return c < 0x20 || c >= 0x7F;
}

// Quoted, with quotes and backslashes escaped, so that white space shows.
std::string quoted(const char* text);

// A message that may repeat user input, with its unsafe bytes escaped.
std::string terminalSafe(const std::string& message);

}  // namespace scsi_timeouts_tool
