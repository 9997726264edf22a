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
    HexOrDecimal,    // "92": the kernel's byte 0x92, or decimal 92 (0x5C)
    BareHexByte,     // "8c": the kernel's byte without its 0x
    OctalOrDecimal,  // "0146": 146, or 102 as the octal reading would have it
    NamedDecides,    // CDB_12: value and opcode say which named value wins there
};

struct NameMatch {
    const char* spelled;  // as listed: "LOCATE(16)", "REWIND", "DEFAULT"
    char value[48];       // the value it means: "CDB_92", "REWIND"
};

struct KernelName;

struct ValueName {
    NameError error;
    char value[48];  // the registry value; for NamedDecides, the named value that wins
    int opcode;      // the code it decides; -1 for DEFAULT, which decides every code left over
    int named;       // index in default_timeout_arr, or -1
    int32_t def;     // the default the load reads it with (no_default for CDB_xx)
    int match_count;
    NameMatch matches[3];
    const KernelName* kernel;  // the kernel's name it was given by, or nullptr
};

// Case-insensitive. Operation codes are 0x.. (hex), one digit (the same in both bases), or three
// decimal digits ("146"). Two significant digits are refused: the kernel prints bytes in hex
// without 0x, so "92" may be either. A leading zero is refused where octal would read a number
// differently ("0146", not "007"). A name is the registry value it spells, else a SCSI command
// name, T10's or the kernel's; a SCSI name without its size is refused when several sizes carry
// it ("locate"), but "verify" spells the value VERIFY.
ValueName resolveName(const char* text);

// The value that decides `opcode`: its named command, else CDB_xx.
ValueName decidingValue(unsigned char opcode);

// CDB_xx itself, also for the code of a named command, where the load reads it but never uses
// it: reset clears such a value.
ValueName perCodeValue(unsigned char opcode);

// For a name given as the kernel prints it: "0x92 (the kernel's \"Lock/unlock cache(16)\") is
// LOCATE(16) on tape drives". Empty otherwise.
std::string kernelNote(const ValueName& name);

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
