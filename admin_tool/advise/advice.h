// The decision: from the evidence and the registry to one piece of advice per operation code
// with evidence, a proposal or word that the timeout in force is enough.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive_report.h"
#include "evidence.h"
#include "scsi_device.h"
#include "scsi_timeouts_tool.h"
#include "value_names.h"

namespace scsi_timeouts_tool {

// A warning or note that may hold a file name: as bytes, which JSON carries losslessly, and as
// a terminal may show it, with the name quoted and escaped.
struct Remark {
    std::string bytes;
    std::string shown;
    Remark& say(const std::string& words) {
        bytes += words;
        shown += words;
        return *this;
    }
    Remark& quote(const std::string& name);
};

// All that was read, before the registry is.
struct Evidence {
    std::vector<std::string> drive_files;
    std::vector<DriveReport> drives;
    std::vector<int> drive_devices;     // per drive report: its device in `devices`, or -1 (a file)
    std::vector<DeviceAnswer> devices;  // every device asked, with its answer or why none
    std::vector<std::string> log_files;  // the text logs, then the journals
    std::size_t journals = 0;            // of them; each message of one has a cursor
    uint64_t journal_entries = 0;        // the journals' kernel messages read
    KernelLogFindings log;
    std::vector<Remark> warnings;
};

// One proposal, or a code for which the timeout in force is enough.
struct Advice {
    unsigned char opcode = 0;
    ValueName value{};                           // what set writes
    const ValueReport* in_force_from = nullptr;  // the value that decides the code now
    int32_t in_force = 0;
    int32_t proposed = 0;
    int drive = -1;  // the report that asks the most
    uint32_t drive_asks = 0;
    int64_t expired_ms = -1;  // E, where the log has events
    std::vector<Remark> notes;
};

// Adds its warnings to `warnings`.
std::vector<Advice> decideAdvice(const Evidence& ev, const RegistryReport& registry,
                                 std::vector<Remark>& warnings);

inline bool isProposal(const Advice& a) {
    return a.proposed > a.in_force;
}

// "scsi-timeouts", "set", NAME, DURATION.
std::vector<std::string> setCommand(const Advice& a);

// What a logged timeout that expired after `expired_ms` asks for: twice as long, and at least
// ten minutes more, rounded up to a whole minute, at most a day.
int32_t timeoutAfter(int64_t expired_ms);

// "200.5 s".
std::string secondsText(int64_t ms);

// The event a proposal cites: the one whose expired timeout it came from.
const LogEvent& citedEvent(const CodeEvidence& log, const Advice& a);

}  // namespace scsi_timeouts_tool
