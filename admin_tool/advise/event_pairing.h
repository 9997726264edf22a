// The pairing of timed-out commands with the CDB lines that name them, per device, and the
// telling of a new event from a repeat of one already counted. Memory is bounded: a fixed number
// of devices, each with one pending event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "evidence.h"
#include "message_kind.h"

namespace scsi_timeouts_tool {

// Where a message came from: its line (or record) in the log, and its timestamp as printed.
struct MessagePlace {
    uint64_t line = 0;
    std::string_view timestamp;
    std::string_view cursor{};  // a journal entry's; empty for a line of text
};

class EventPairing {
  public:
    explicit EventPairing(KernelLogFindings& findings) : findings_(findings) {}
    // Starts the next log; whatever is pending in the previous one is settled first.
    void startFile(int file);
    void add(const Message& message, const MessagePlace& place);
    // The end of the input: events still waiting for a CDB line are unnamed.
    void finish();

  private:
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
        std::string address;
        std::string cursor;
        int64_t timeout_ms = -1;
        int64_t cmd_age_ms = -1;
    };
    struct LogDevice {
        std::string hctl;  // "1:0:1:0"
        uint64_t seen = 0;
        PendingEvent pending;
        std::string last_address;  // of its last timed-out command
        bool last_open = false;    // no completion since its last timed-out command
        int last_opcode = -1;
        long last_tag = -1;
    };
    static constexpr std::size_t no_device = SIZE_MAX;

    std::size_t device(std::string_view hctl);
    void deviceEvent(const Message& m, const MessagePlace& place);
    void hostAbort(const Message& m, const MessagePlace& place);
    void cdbLine(const Message& m);
    void settle(PendingEvent& p);
    void countNamed(const PendingEvent& p, unsigned char opcode);
    void countUnnamed(int file, uint64_t line, std::string_view device, std::string_view text,
                      std::string_view cursor);

    KernelLogFindings& findings_;
    int file_ = 0;
    uint64_t line_ = 0;
    uint64_t scsi_lines_ = 0;  // lines with a SCSI device or host driver, to see what is adjacent
    std::vector<LogDevice> devices_;  // bounded: the least recently seen one makes room
    PendingEvent host_abort_;         // a host driver's abort without H:C:T:L
    uint64_t host_abort_scsi_line_ = 0;
    std::size_t last_event_device_ = no_device;  // for a CDB line without a device
    uint64_t last_event_scsi_line_ = 0;
};

}  // namespace scsi_timeouts_tool
