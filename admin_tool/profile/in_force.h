// What a stored value means in a profile's terms: at its default, a number of seconds that the
// library uses, or stored text that it does not use. Decided from the library's own reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scsi_timeouts_tool.h"
#include "value_names.h"

namespace scsi_timeouts_tool {

enum class Held : unsigned char {
    Default,  // absent, the marker of its default, or an emptied per-code value
    Seconds,  // a number that the library reads and keeps
    Unused,   // stored, but the library does not use what it says
};

struct InForce {
    Held held;
    int32_t seconds;  // Seconds: what the library reads
    const char* why;  // Unused: why the library does not use it
};

InForce inForce(const ValueReport& v);

// The value a registry name stands for, as reset takes it: CDB_01 is the per-code value itself,
// though REWIND decides 0x01.
ValueName registryValue(const char* name);

// The codes a value decides, for the log and the JSON: none for DEFAULT.
std::vector<unsigned char> valueCodes(const ValueName& name);
std::string codeText(unsigned char opcode);  // "0x1B"

// "15m", "default", or the stored text quoted: a value as a profile line would say it.
std::string profileText(const ValueReport& v);

}  // namespace scsi_timeouts_tool
