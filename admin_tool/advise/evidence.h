// What the kernel log holds about timed-out commands, per operation code: the findings that
// advise decides on. Bounded whatever the log: counts, extremes and a few examples.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scsi_timeouts_tool {

// One timed-out command that the log names by its CDB.
struct LogEvent {
    int file = 0;              // index of the log among those given
    uint64_t line = 0;         // 1-based
    unsigned char opcode = 0;  // the CDB's first byte, never the kernel's name for it
    std::string device;        // "st 1:0:1:0"
    std::string timestamp;     // as printed; empty when the line has none
    std::string cursor;        // a journal entry's, to find it again; empty for a text log
    int64_t timeout_ms = -1;   // "timeout M ms": the sender's timeout
    int64_t cmd_age_ms = -1;   // "cmd_age=Ns": an age, retries included
    // The timeout that expired: the printed one, else the age, else none (-1).
    int64_t expired() const { return timeout_ms >= 0 ? timeout_ms : cmd_age_ms; }
};

// A timeout the log reports without saying which command it was.
struct UnnamedTimeout {
    int file = 0;
    uint64_t line = 0;
    std::string device;
    std::string text;    // the message, without the prefixes
    std::string cursor;  // a journal entry's; empty for a text log
};

// What the events of one operation code add up to. The first few events are kept as examples,
// the last of them giving way to a later one that expired after longer than all kept.
struct CodeEvidence {
    static constexpr std::size_t max_examples = 8;
    uint64_t events = 0;
    int64_t longest_expired_ms = -1;  // among events that printed one
    bool some_printed_none = false;   // such an event counts as the timeout in force
    int64_t shortest_timeout_ms = -1, longest_timeout_ms = -1;  // "timeout M ms" printed
    int64_t shortest_cmd_age_ms = -1;
    std::vector<LogEvent> examples;
};

// Lines longer than any kernel message, skipped: of one file.
struct LongLines {
    int file = 0;
    uint64_t first = 0;  // its line number
    uint64_t count = 0;
};

struct KernelLogFindings {
    static constexpr std::size_t max_unnamed_examples = 64;
    uint64_t lines = 0;
    uint64_t events = 0;
    uint64_t unnamed = 0;
    bool rate_limited = false;  // the kernel dropped messages: the counts are lower bounds
    std::array<CodeEvidence, 256> codes{};
    std::vector<UnnamedTimeout> unnamed_examples;
    std::vector<LongLines> long_lines;  // one entry per file that has them
};

void addEvent(KernelLogFindings& findings, LogEvent event);
void addUnnamed(KernelLogFindings& findings, UnnamedTimeout timeout);

}  // namespace scsi_timeouts_tool
