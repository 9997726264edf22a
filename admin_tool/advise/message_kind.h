// What a kernel message says about SCSI timeouts, from the message alone: a pure function, so
// that each form the kernel prints is one test row.
#pragma once

#include <cstdint>
#include <string_view>

namespace scsi_timeouts_tool {

enum class MessageKind {
    NotScsi,         // another subsystem's message
    Other,           // a SCSI device's or host driver's message that names no timeout
    Abort,           // "attempting task abort!", uas' and aic7xxx's abort of a device's command
    TimeoutError,    // "Done: TIMEOUT_ERROR Result: ... cmd_age=Ns"
    TimedOutResult,  // "FAILED Result: hostbyte=DID_TIME_OUT"
    Completion,      // any other "Result:": a command that ended
    TimingOut,       // "timing out command, waited Ns": a budget spent, no CDB line follows
    StTimedOut,      // st's "Error 30000 (...)" with the host byte DID_TIME_OUT
    Unnamed,         // qla2xxx's "Abort command issued": no CDB line follows
    HostAbort,       // mptscsih's abort, without H:C:T:L
    Cdb,             // "CDB: ..." or "CDB[00]: ...", with or without a device prefix
    CdbHead,         // "CDB: <name>" without bytes: a CDB longer than 16, "CDB[00]:" follows
    RateLimited,     // "N callbacks suppressed"
};

struct Message {
    MessageKind kind = MessageKind::NotScsi;
    std::string_view device;   // as printed: "st 1:0:1:0", "scsi1:0:6:0", "st0"; mptscsih's "ioc0"
    std::string_view hctl;     // "1:0:1:0"; empty where the device has none
    long tag = -1;             // "tag#N"
    std::string_view text;     // after the device prefix, "[name] " and "tag#N "
    std::string_view address;  // "scmd(0x...)" or "(sc=...)": the command's address
    int opcode = -1;           // of a CDB line: its first byte; -1 where it has no bytes
    int64_t timeout_ms = -1;   // of an abort: "timeout M ms"
    int64_t cmd_age_ms = -1;   // "cmd_age=Ns"
};

Message classifyMessage(std::string_view message);

// The CDB's first byte in the text after "CDB:" or "CDB[00]:"; -1 when there is none.
int cdbOpcode(std::string_view cdb);

}  // namespace scsi_timeouts_tool
