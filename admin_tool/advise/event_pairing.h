// The pairing of timed-out commands with the CDB lines that name them, per device and tag, and
// the telling of a new event from a repeat of one already counted. Memory is bounded: a fixed
// number of devices, each with a few pending events.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "evidence.h"
#include "message_kind.h"
#include "stamp_time.h"

namespace scsi_timeouts_tool {

// Where a message came from: its line (or record) in the log, and its timestamp as printed.
struct MessagePlace {
    uint64_t line = 0;
    std::string_view timestamp;
    std::string_view cursor{};  // a journal entry's; empty for a line of text
};

// Lines of one run of the error handler (an abort, then device, target and host resets) come
// within this of each other; the same code timing out again later is another event.
constexpr int64_t error_handler_run_ms = int64_t{10} * 60 * 1000;

// Two lines may be of one command unless both carry tags and the tags differ.
inline bool tagsAgree(long a, long b) {
    return a < 0 || b < 0 || a == b;
}

class EventPairing {
  public:
    explicit EventPairing(KernelLogFindings& findings) : findings_(findings) {}
    // Starts the next log; whatever is pending in the previous one is settled first.
    void startFile(int file);
    void add(const Message& message, const MessagePlace& place);
    // The end of the input: events still waiting for a CDB line are unnamed.
    void finish();

  private:
    // A timed-out command seen, waiting for its CDB line; or a line that reports a timeout
    // without naming it, waiting to see whether the named event it announces follows.
    struct PendingEvent {
        bool active = false;
        bool follows_last = false;  // nothing else of its device since the last named command
        bool same_address = false;  // and the address of that command: a repeat, unless its
                                    // CDB names another code
        int file = 0;
        uint64_t line = 0;
        long tag = -1;
        std::string device;
        std::string timestamp;
        StampTime time;
        std::string text;
        std::string address;
        std::string cursor;
        int64_t timeout_ms = -1;
        int64_t cmd_age_ms = -1;
    };
    // The last command named on a device (or by a host driver), for its repeats.
    struct NamedCommand {
        bool open = false;  // nothing else of its device since: a further line may repeat it
        std::string address;
        int opcode = -1;
        long tag = -1;
        StampTime time;  // of its latest line
    };
    static constexpr std::size_t max_pending = 4;  // per device: commands of several tags
    struct LogDevice {
        std::string hctl;  // "1:0:1:0"
        uint64_t seen = 0;
        std::array<PendingEvent, max_pending> pending;
        PendingEvent timing_out;  // "timing out command", until the FAILED pair it announces
        NamedCommand last;
    };
    static constexpr std::size_t no_device = SIZE_MAX;

    std::size_t device(std::string_view hctl);
    std::size_t knownDevice(std::string_view hctl) const;
    void startPending(PendingEvent& p, const Message& m, const MessagePlace& place) const;
    void deviceEvent(std::size_t d, const Message& m, const MessagePlace& place);
    void completion(LogDevice& dev, const Message& m);
    static PendingEvent* slotFor(LogDevice& dev, const Message& m);
    void timingOut(const Message& m, const MessagePlace& place);
    void stTimedOut(const Message& m, const MessagePlace& place);
    void hostAbort(const Message& m, const MessagePlace& place);
    void cdbLine(const Message& m);
    static PendingEvent* pendingFor(LogDevice& dev, long tag);
    void name(PendingEvent& p, NamedCommand& last, const Message& cdb);
    void countNamed(const PendingEvent& p, int opcode);
    void settle(PendingEvent& p);
    void settleDevice(LogDevice& dev);
    void countUnnamed(int file, uint64_t line, std::string_view device, std::string_view text,
                      std::string_view cursor);

    KernelLogFindings& findings_;
    int file_ = 0;
    uint64_t line_ = 0;
    uint64_t scsi_lines_ = 0;  // lines with a SCSI device or host driver, to see what is adjacent
    std::vector<LogDevice> devices_;  // bounded: the least recently seen one makes room
    PendingEvent host_abort_;         // a host driver's abort without H:C:T:L
    NamedCommand host_last_;
    uint64_t host_abort_scsi_line_ = 0;
    std::size_t last_event_device_ = no_device;  // for a CDB line without a device
    uint64_t last_event_scsi_line_ = 0;
};

}  // namespace scsi_timeouts_tool
