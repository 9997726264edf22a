// scsi-timeouts, the administrator's view of the registry key "ScsiTimeouts": what the library's
// next load will see, decide and write, found with the library's own reader and load over a
// store that is only read.
#pragma once

#include <QrScsiTimeoutsModule.h>

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "command_line.h"

class QrPlatformInfo;

namespace scsi_timeouts_tool {

namespace qst = qr_scsi_timeouts;

// Mistakes the library accepts without a word.
enum Warning : unsigned {
    DigitsAfterSpace = 1u << 0,      // "1 800" is 1
    GroupingOrDecimal = 1u << 1,     // "1,800" and "1.5" are 1
    Exponent = 1u << 2,              // "1e2" is 1
    PerCodeUnusable = 1u << 3,       // a stored per-code value that gives DEFAULT
    PerCodeAsRead = 1u << 4,         // "0" or "60abc" for CDB_xx: used, and never repaired
    NotRepairedNoInstall = 1u << 5,  // a bad value that stays, for want of the install entry
    UnitSuffix = 1u << 6,            // "30m" is 30 seconds
    PerCodeNeverUsed = 1u << 7,      // CDB_01: REWIND decides 0x01, whatever it holds
    NotDecimal = 1u << 8,            // "0600" is octal, 384 seconds; "0x1e2" is 482
};

struct ValueReport {
    char name[48];  // the longest is INITIALIZE_ELEMENT_STATUS_WITH_RANGE_E7
    bool found;
    char stored[qst::value_size];  // what the library reads of it: at most 127 characters
    int32_t def;                   // the default it is read with
    qst::Decision decision;
    unsigned warnings;
    bool repaired;  // the next load writes the marker of `def`
};

struct RegistryReport {
    bool install_entry;
    ValueReport values[qst::value_count];  // in read order
    int read_count;
    int32_t table[256];
    qst::ValuePosition
        decided_by[256];  // the position in `values` of the value that decided each entry
};

// Reads the registry through `info` with getString only.
void readRegistry(QrPlatformInfo& info, RegistryReport& report);

// A value under a name the library never reads ("Rewind" for REWIND).
struct Misspelled {
    std::string name;
    std::string stored;
    std::string meant;
};

// Reads the usual misspellings of every value in `report` with getString only. A store that
// gives the exact name's text for a variant does not tell names apart by case: no finding.
std::vector<Misspelled> readMisspellings(QrPlatformInfo& info, const RegistryReport& report);

// Reads the registry from the store, with the misspellings when `misspelled` is given: what show,
// check and advise read. False with `status` set and one line on `err` when the store fails.
bool readStore(std::ostream& err, int& status, RegistryReport& report,
               std::vector<Misspelled>* misspelled = nullptr);

// The value that decided a table entry.
const ValueReport& sourceValue(const RegistryReport& report, unsigned char opcode);

const char* reasonText(qst::Verdict verdict);  // nullptr for a clean value
// What check says is wrong with a value: nullptr for a clean or absent one, and for an empty
// per-code value, which reads as none.
const char* shownReason(const ValueReport& v);
// One warning about `v`, in words that name what it holds where that helps.
std::string warningText(Warning warning, const ValueReport& v);
constexpr Warning all_warnings[] = {DigitsAfterSpace, GroupingOrDecimal, Exponent,
                                    PerCodeUnusable,  PerCodeAsRead,     NotRepairedNoInstall,
                                    UnitSuffix,       PerCodeNeverUsed,  NotDecimal};

// The store that the tool reads and writes, for its one line: "store: ...".
std::string storeDescription();

// The command line, writing its report to `out` and its complaints to `err`. Returns the exit
// status. `read_back`: how set and reset read back what they wrote.
int runTool(int argc, char** argv, std::ostream& out, std::ostream& err,
            ReadBack read_back = ReadBack::NewProcess);

}  // namespace scsi_timeouts_tool
