// The kernel log as dmesg, syslog or journalctl write it: which SCSI commands timed out, on which
// device, and after how long. Read as a stream, line by line, in bounded memory: a year of
// journal is as good as a page of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scsi_timeouts_tool {

// One timed-out command that the log names by its CDB.
struct LogEvent {
    int file = 0;              // index of the log among those given
    uint64_t line = 0;         // 1-based
    unsigned char opcode = 0;  // the CDB's first byte, never the kernel's name for it
    std::string device;        // "st 1:0:1:0"
    std::string timestamp;     // as printed; empty when the line has none
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
    std::string text;  // the message, without the prefixes
};

// What the events of one operation code add up to. Only the first few events are kept, the
// last of them giving way to a later one that expired after longer than all kept.
struct CodeEvidence {
    static constexpr std::size_t kept = 8;
    uint64_t events = 0;
    int64_t longest_expired_ms = -1;  // among events that printed one
    bool some_printed_none = false;   // such an event counts as the timeout in force
    int64_t shortest_timeout_ms = -1, longest_timeout_ms = -1;  // "timeout M ms" printed
    int64_t shortest_cmd_age_ms = -1;
    std::vector<LogEvent> first;  // at most `kept`
};

struct KernelLogFindings {
    static constexpr std::size_t unnamed_kept = 64;
    uint64_t lines = 0;
    uint64_t events = 0;
    uint64_t unnamed = 0;
    bool rate_limited = false;  // the kernel dropped messages: the counts are lower bounds
    std::array<CodeEvidence, 256> codes{};
    std::vector<UnnamedTimeout> first_unnamed;
};

// A timed-out command seen, waiting for its CDB line.
struct PendingEvent {
    bool active = false;
    bool repeat = false;        // a further abort line for a command already counted
    bool maybe_repeat = false;  // counts as a repeat if its CDB names the same code again
    int file = 0;
    uint64_t line = 0;
    long tag = -1;
    std::string device;
    std::string timestamp;
    std::string text;
    std::string scmd;  // the command's address, where the driver prints it
    int64_t timeout_ms = -1;
    int64_t cmd_age_ms = -1;
};

struct LogDevice {
    std::string hctl;  // "1:0:1:0"
    uint64_t seen = 0;
    PendingEvent pending;
    std::string last_scmd;   // of its last timed-out command
    bool last_open = false;  // no completion since its last timed-out command
    int last_opcode = -1;
    long last_tag = -1;
};

// A kernel message, its prefixes taken off.
struct LogLine {
    std::string_view message;
    std::string_view stamp;  // as printed; empty when the line has none
};

// "<driver> H:C:T:L: " and what follows it.
struct DevicePrefix {
    std::string_view printed;  // "st 1:0:1:0", "scsi1:0:6:0", "st0"
    std::string_view hctl;     // "1:0:1:0"; empty for "st0"
    long tag = -1;             // "tag#N"
    std::string_view rest;     // after the prefix, "[name] " and "tag#N "
};

// Feeds lines to the pairing of events with their CDB lines. Pending events are bounded too.
class KernelLogScanner {
  public:
    explicit KernelLogScanner(KernelLogFindings& findings) : findings_(findings) {}
    // Starts the next log; whatever is pending in the previous one is settled first.
    void startFile(int file);
    // One line, without its line end (a CR before it is taken off here).
    void line(std::string_view text);
    // The end of the input: events still waiting for a CDB line are unnamed.
    void finish();

  private:
    void jsonLine(std::string_view text);
    void message(const LogLine& line);
    void hostDriverLine(const LogLine& line);
    void deviceLine(const DevicePrefix& dev, std::string_view stamp);
    void startEvent(std::size_t d, const DevicePrefix& dev, bool abort, std::string_view stamp);
    std::size_t device(std::string_view hctl);
    void event(PendingEvent& p, std::string_view rest);
    void cdbLine(std::size_t d, std::string_view printed, long tag, std::string_view cdb);
    void settle(PendingEvent& p);
    void named(PendingEvent& p, unsigned char opcode);
    void unnamed(int file, uint64_t line, std::string_view device, std::string_view text);

    KernelLogFindings& findings_;
    int file_ = 0;
    uint64_t line_ = 0;
    uint64_t scsi_lines_ = 0;  // lines with a SCSI device or host driver, to see what is adjacent
    std::vector<LogDevice> devices_;  // bounded: the least recently seen one makes room
    PendingEvent anonymous_;          // a host driver's abort without H:C:T:L
    uint64_t anonymous_at_ = 0;       // its scsi_lines_
    std::size_t recent_ = SIZE_MAX;   // the device of the last event, for a CDB line without one
    uint64_t recent_at_ = 0;
};

// read(2), again after a signal: the bytes read (0 at the end), or -1 with `error` set.
long readSome(int fd, char* data, std::size_t size, std::string& error);

// Reads `fd` to its end through `scanner`. False with `error` set when a read fails.
bool scanKernelLog(int fd, KernelLogScanner& scanner, std::string& error);

}  // namespace scsi_timeouts_tool
