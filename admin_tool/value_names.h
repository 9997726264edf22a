// What an administrator may call a registry value: DEFAULT, a named command, CDB_xx, an operation
// code or a SCSI command name, all meaning the one value that decides the code. No store access.
#pragma once

#include <QrScsiTimeoutsModule.h>

#include <cstdint>
#include <string>
#include <vector>

namespace scsi_timeouts_tool {

enum class NameError : unsigned char {
    None,
    Empty,           // nothing but white space and punctuation
    Unknown,         // matches: up to three close ones, perhaps none
    Ambiguous,       // matches: what it could mean ("locate": LOCATE(10), LOCATE(16))
    NotAnOpcode,     // a number above 255 ("256", "0x100")
    OctalOrDecimal,  // "010": 10, or 8 as the octal reading would have it
    NamedDecides,    // CDB_12: value and opcode say which named value wins there
};

struct NameMatch {
    const char* spelled;  // as listed: "LOCATE(16)", "REWIND", "DEFAULT"
    char value[48];       // the value it means: "CDB_92", "REWIND"
};

struct ValueName {
    NameError error;
    char value[48];  // the registry value; for NamedDecides, the named value that wins
    int opcode;      // the code it decides; -1 for DEFAULT, which decides every code left over
    int named;       // index in default_timeout_arr, or -1
    int32_t def;     // the default the load reads it with (no_default for CDB_xx)
    int match_count;
    NameMatch matches[3];
};

// Case-insensitive. Operation codes are 0x.. (hex) or decimal; a leading zero is decimal, and
// refused where octal would read it differently ("010", not "007" or "09").
ValueName resolveName(const char* text);

// The value that decides `opcode`: its named command, else CDB_xx.
ValueName decidingValue(unsigned char opcode);

// One line for a refused name, with its close matches: "unknown name \"locat\"; close matches:
// LOCATE(10) (CDB_2B), ...". Empty for a name that resolved.
std::string nameErrorText(const char* text, const ValueName& name);

// Spellings of `value_name` that the library never reads, as administrators write them: lower
// case and capitalised ("rewind", "Rewind"); for CDB_xx also cdb_xx, lower-case hex digits
// (CDB_9a) and, below 0x10, one digit (CDB_5, CDB_a). Never the exact name, no duplicates.
std::vector<std::string> misspellings(const char* value_name);

// Every name as listed, once each, for the shell's completion (scsi-timeouts --list-names):
// DEFAULT, the named commands, the SCSI command names, and "CDB_" for the CDB_xx values.
std::vector<std::string> listedNames();

}  // namespace scsi_timeouts_tool
