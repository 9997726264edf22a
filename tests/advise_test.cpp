// scsi-timeouts advise: drive reports as bytes built from their layout, kernel-log lines in the
// forms Linux writes, the advice's arithmetic, and --apply against a fresh process's lookup.
#include <gtest/gtest.h>

#include <QrScsiTimeouts.h>
#include <advice.h>
#include <drive_report.h>
#include <duration.h>
#include <kernel_log_reader.h>
#include <message_kind.h>
#include <scsi_timeouts_tool.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "drive_report_bytes.h"
#include "fresh_process.h"
#include "store_helpers.h"
#include "tool_run.h"

namespace {

namespace tool = scsi_timeouts_tool;
// ---- Kernel logs -----------------------------------------------------------------------------

// What a message is, and what of it the pairing uses: "Abort dev=st 1:0:1:0 timeout=60000".
std::string kindOf(const std::string& message) {
    static const char* const kinds[] = {"NotScsi",        "Other",      "Abort",     "TimeoutError",
                                        "TimedOutResult", "Completion", "TimingOut", "StTimedOut",
                                        "Unnamed",        "HostAbort",  "Cdb",       "CdbHead",
                                        "RateLimited"};
    const tool::Message m = tool::classifyMessage(message);
    std::string out = kinds[static_cast<int>(m.kind)];
    const auto add = [&](bool shown, const char* key, const std::string& value) {
        out += shown ? std::string(" ") + key + "=" + value : "";
    };
    char opcode[8];
    std::snprintf(opcode, sizeof opcode, "%02X", m.opcode & 0xFF);
    add(!m.device.empty(), "dev", std::string(m.device));
    add(m.hctl.empty() != m.device.empty() && !m.hctl.empty(), "hctl", std::string(m.hctl));
    add(m.tag >= 0, "tag", std::to_string(m.tag));
    add(!m.address.empty(), "addr", std::string(m.address));
    add(m.opcode >= 0, "op", opcode);
    add(m.timeout_ms >= 0, "timeout", std::to_string(m.timeout_ms));
    add(m.cmd_age_ms >= 0, "age", std::to_string(m.cmd_age_ms));
    add(m.kind == tool::MessageKind::Unnamed, "text", std::string(m.text));
    return out;
}

TEST(Advise, MessageKinds) {
    const struct {
        const char* message;
        const char* kind;
    } rows[] = {
        {"st 1:0:1:0: attempting task abort!scmd(0x00000000deadbeef), outstanding for 62233 ms & "
         "timeout 60000 ms",
         "Abort dev=st 1:0:1:0 addr=0x00000000deadbeef timeout=60000"},
        {"scsi 3:0:0:0: tag#13 uas_eh_abort_handler 0 uas-tag 1 inflight: CMD IN",
         "Abort dev=scsi 3:0:0:0 tag=13"},
        {"scsi1:0:6:0: Attempting to queue an ABORT message", "Abort dev=scsi1:0:6:0"},
        {"st 2:0:0:0: tag#7 Done: TIMEOUT_ERROR Result: hostbyte=DID_OK cmd_age=60s",
         "TimeoutError dev=st 2:0:0:0 tag=7 age=60000"},
        {"sd 0:0:0:0: [sda] tag#3 FAILED Result: hostbyte=DID_TIME_OUT driverbyte=DRIVER_OK "
         "cmd_age=30s",
         "TimedOutResult dev=sd 0:0:0:0 tag=3 age=30000"},
        {"sd 0:0:0:1: [sdb] tag#3 UNKNOWN(0x2003) Result: hostbyte=0x03 driverbyte=DRIVER_OK",
         "TimedOutResult dev=sd 0:0:0:1 tag=3"},
        {"sd 0:0:0:0: [sda] tag#3 FAILED Result: hostbyte=DID_ABORT driverbyte=DRIVER_OK",
         "Completion dev=sd 0:0:0:0 tag=3"},
        {"st 2:0:0:0: tag#1 Done: SUCCESS Result: hostbyte=DID_OK",
         "Completion dev=st 2:0:0:0 tag=1"},
        {"st 1:0:1:0: tag#4695 CDB: Read attributes 8c 00 00 00",
         "Cdb dev=st 1:0:1:0 tag=4695 op=8C"},
        {"st 5:0:0:0: [sg6] CDB: Read(6): 08 01 00 00 01 00", "Cdb dev=st 5:0:0:0 op=08"},
        {"st 5:0:0:1: CDB: cdb[0]=0x2b: 2b 00", "Cdb dev=st 5:0:0:1 op=2B"},
        {"st 5:0:0:2: CDB: opcode=0xc1 (vendor) c1 00", "Cdb dev=st 5:0:0:2 op=C1"},
        {"CDB: 0x11 0x1 0x7f 0xff 0xff 0x0", "Cdb op=11"},
        {"st 5:0:0:3: CDB: Variable length", "CdbHead dev=st 5:0:0:3"},
        {"st 5:0:0:3: CDB[00]: 7f 00 00", "Cdb dev=st 5:0:0:3 op=7F"},
        {"st 5:0:0:3: CDB[10]: 00 00", "Cdb dev=st 5:0:0:3"},
        {"st 0:0:3:0: [st0] Error 30000 (driver bt 0, host bt 0x3).", "StTimedOut dev=st 0:0:3:0"},
        {"st0: Error 26030000", "StTimedOut dev=st0"},
        {"st0: Error 80000 (sugg. bt 0x0, driver bt 0x0, host bt 0x8).", "Other dev=st0"},
        {"sd 0:0:0:0: [sdb] tag#23 timing out command, waited 180s",
         "TimingOut dev=sd 0:0:0:0 tag=23"},
        {"mptscsih: ioc0: attempting task abort! (sc=ffff8802fc5ce000)",
         "HostAbort dev=ioc0 addr=ffff8802fc5ce000"},
        {"qla2xxx [0000:49:00.0]-801c:4: Abort command issued nexus=4:3:33 -- 1 2002.",
         "Unnamed dev=qla2xxx [0000:49:00.0]-801c:4 text=Abort command issued nexus=4:3:33 -- 1 "
         "2002."},
        {"qla2xxx [0000:49:00.0]-801c:4: scsi(4:3:33) Abort command issued -- 1 2002.",
         "Unnamed dev=qla2xxx [0000:49:00.0]-801c:4 text=scsi(4:3:33) Abort command issued -- 1 "
         "2002."},
        {"scsi_io_completion_action: 12 callbacks suppressed", "RateLimited"},
        {"printk: 5 messages suppressed.", "RateLimited"},
        {"st 1:0:1:0: rejecting I/O to offline device", "Other dev=st 1:0:1:0"},
        {"usb 1-1: new high-speed USB device number 2 using xhci_hcd", "NotScsi"},
        {"kernel: st 1:0:1:0: attempting task abort!", "NotScsi"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(kindOf(row.message), row.kind) << row.message;
    }
}

// "8C x1 60000": code, events, longest expired (none: -1); then unnamed and lines.
std::string summary(const std::string& text) {
    tool::KernelLogFindings f;
    tool::KernelLogReader scanner(f);
    scanner.startFile(0);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        scanner.line(line);
    }
    scanner.finish();
    std::string out;
    char buffer[64];
    for (int code = 0; code < 256; ++code) {
        const tool::CodeEvidence& c = f.codes[code];
        if (c.events > 0) {
            std::snprintf(buffer, sizeof buffer, "%02X x%d %lld, ", code,
                          static_cast<int>(c.events), static_cast<long long>(c.longest_expired_ms));
            out += buffer;
        }
    }
    out += "unnamed " + std::to_string(f.unnamed) + (f.rate_limited ? " limited" : "");
    return out;
}

const std::string abort_line =
    "st 1:0:1:0: attempting task abort!scmd(0x000000008b10e4e8), outstanding for 62233 ms & "
    "timeout 60000 ms";
const std::string cdb_line = "st 1:0:1:0: tag#4695 CDB: Read attributes 8c 00 00 00";
const std::string pair = abort_line + "\n" + cdb_line + "\n";

// More devices than the reader keeps: the least recently seen make room, their events unnamed.
std::string manyDevices() {
    std::string out;
    for (int i = 0; i < 300; ++i) {
        out += "st 0:0:" + std::to_string(i) + ":0: attempting task abort! scmd(0x1)\n";
    }
    return out;
}

// Thousands of devices seen once, as USB hosts renumber at each plug, between an abort and its
// CDB line: the table makes room, and the abort's device is no longer there to pair with.
std::string everNewDevices() {
    std::string out = "st 0:0:0:0: attempting task abort! scmd(0x1)\n";
    for (int i = 0; i < 5000; ++i) {
        out += "sd " + std::to_string(i + 10) +
               ":0:0:0: [sdb] tag#1 Done: SUCCESS Result: "
               "hostbyte=DID_OK\n";
    }
    return out + "st 0:0:0:0: tag#1 CDB: Read(6) 08 00\n";
}

// A journal record's MESSAGE as the array of byte values journalctl writes for non-UTF-8 text.
std::string byteArray(const std::string& text) {
    std::string out = "[";
    for (const char c : text) {
        out += (out.size() > 1 ? ", " : "") + std::to_string(static_cast<unsigned char>(c));
    }
    return out + "]";
}

const std::string failed_3 =
    "sd 0:0:0:0: [sda] tag#3 FAILED Result: hostbyte=DID_TIME_OUT driverbyte=DRIVER_OK "
    "cmd_age=30s\n";
const std::string timeout_error_7 =
    "st 2:0:0:0: tag#7 Done: TIMEOUT_ERROR Result: hostbyte=DID_OK cmd_age=60s\n";
const std::string mpt_abort = "mptscsih: ioc0: attempting task abort! (sc=ffff8802fc5ce000)\n";
const std::string mpt_cdb = "st 5:0:0:0: [sg6] CDB: Read(6): 08 01 00 00 01 00\n";

struct LogRow {
    const char* label;
    std::string text;
    const char* summary;
};

// clang-format off
const LogRow log_rows[] = {
    {"Dmesg", "[456431.184458] " + abort_line + "\n[456431.184486] " + cdb_line, "8C x1 60000, unnamed 0"},
    {"DmesgT", "[Fri Dec 13 11:53:17 2024] " + abort_line + "\n[Fri Dec 13 11:53:17 2024] " + cdb_line, "8C x1 60000, unnamed 0"},
    {"DmesgReltimeAndLevel", "<4>[  +0.000006] " + abort_line + "\n<4>" + cdb_line, "8C x1 60000, unnamed 0"},
    {"DmesgNoPrefix", pair, "8C x1 60000, unnamed 0"},
    {"KernelAlone", "kernel: " + abort_line + "\nkernel: " + cdb_line, "8C x1 60000, unnamed 0"},
    {"Syslog", "Dec  9 10:00:00 host kernel: [ 1.5] " + abort_line + "\nDec  9 10:00:00 host kernel: " + cdb_line, "8C x1 60000, unnamed 0"},
    {"SyslogNoHost", "Dec  9 10:00:00  kernel: " + abort_line + "\nDec  9 10:00:00  kernel: " + cdb_line, "8C x1 60000, unnamed 0"},
    {"Rfc3339", "2026-12-09T10:00:00.123456+01:00 host kernel: " + abort_line + "\n2026-12-09 10:00:00 host kernel: " + cdb_line, "8C x1 60000, unnamed 0"},
    {"ShortFullAndUnix", "Wed 2026-12-09 10:00:00 CET host kernel: " + abort_line + "\n1765274400.123456 host kernel: " + cdb_line, "8C x1 60000, unnamed 0"},
    {"ShortMonotonic", "[ 12.345678] host kernel: " + abort_line + "\n[ 12.345679] host kernel: " + cdb_line, "8C x1 60000, unnamed 0"},
    {"Crlf", abort_line + "\r\n" + cdb_line + "\r\n", "8C x1 60000, unnamed 0"},
    {"Json", "{\"MESSAGE\":\"" + abort_line + "\",\"_TRANSPORT\":\"kernel\"}\n{\"MESSAGE\":\"" + cdb_line + "\",\"__REALTIME_TIMESTAMP\":\"1765274400123456\"}", "8C x1 60000, unnamed 0"},
    {"JsonByteArrayNotUtf8", "{\"MESSAGE\":\"" + abort_line + "\"}\n{\"MESSAGE\":[115,116,32,49,58,48,58,49,58,48,58,32,67,68,66,58,32,233,32,57,50,32,48,48]}", "92 x1 60000, unnamed 0"},
    {"NotUtf8InText", abort_line + "\nst 1:0:1:0: CDB: R\xE9\xFF 92 00\n", "92 x1 60000, unnamed 0"},
    {"AnotherProgramLooksAlike", "Dec  9 10:00:00 host ltfs[123]: " + abort_line + "\nDec  9 10:00:00 host ltfs[123]: " + cdb_line + "\nDec  9 10:00:00 host ltfs[123]: SCSI timeout (op_code 0x08, timeout = 2340).", "unnamed 0"},
    {"AnotherProgramMonotonic", "[ 1.0] host logger[9]: " + abort_line + "\n[ 1.0] host logger[9]: " + cdb_line, "unnamed 0"},
    {"AnotherProgramJson", "{\"MESSAGE\":\"" + abort_line + "\",\"SYSLOG_IDENTIFIER\":\"ltfs\"}\n{\"MESSAGE\":\"" + cdb_line + "\",\"SYSLOG_IDENTIFIER\":\"ltfs\"}", "unnamed 0"},
    {"InterleavedDevices", "st 1:0:1:0: attempting task abort! scmd(0x1)\nst 1:0:2:0: attempting task abort! scmd(0x2)\nst 1:0:2:0: tag#1 CDB: Lock/unlock cache(16) 92 00\nst 1:0:1:0: tag#1 CDB: Read(6) 08 00\n", "08 x1 -1, 92 x1 -1, unnamed 0"},
    {"TagReuseNextNotEarlier", "st 2:0:0:0: tag#7 CDB: Read(6) 08 00\nst 2:0:0:0: tag#7 Done: TIMEOUT_ERROR Result: hostbyte=DID_OK driverbyte=DRIVER_OK cmd_age=60s\nst 2:0:0:0: tag#3 CDB: Write(6) 0a 00\nst 2:0:0:0: tag#7 CDB: Space(6) 11 00\n", "11 x1 60000, unnamed 0"},
    {"RepeatedAbortsAndFloods", pair + pair + "st 1:0:1:0: attempting device reset! scmd(0x000000008b10e4e8)\nst 1:0:1:0: Device offlined - not ready after error recovery\nst 1:0:1:0: rejecting I/O to offline device\nst 1:0:1:0: rejecting I/O to offline device\n", "8C x1 60000, unnamed 0"},
    {"TimeoutErrorThenItsAbort", "st 2:0:0:0: tag#7 Done: TIMEOUT_ERROR Result: hostbyte=DID_OK cmd_age=60s\nst 2:0:0:0: tag#7 CDB: Read(6) 08 00\nst 2:0:0:0: attempting task abort! scmd(0x9)\nst 2:0:0:0: tag#7 CDB: Read(6) 08 00\n", "08 x1 60000, unnamed 0"},
    {"TwoCommandsTwoEvents", pair + "st 1:0:1:0: attempting task abort!scmd(0x5), outstanding for 1 ms & timeout 900000 ms\n" + cdb_line, "8C x2 900000, unnamed 0"},
    {"RateLimited", pair + "scsi_io_completion_action: 12 callbacks suppressed\n", "8C x1 60000, unnamed 0 limited"},
    {"SyslogRepeated", pair + "Dec  9 10:00:00 host last message repeated 99 times\n", "8C x1 60000, unnamed 0 limited"},
    {"FailedPairs", "sd 0:0:0:0: [sda] tag#3 FAILED Result: hostbyte=DID_TIME_OUT driverbyte=DRIVER_OK cmd_age=30s\nsd 0:0:0:0: [sda] tag#3 CDB: Read(10) 28 00\nsd 0:0:0:1: [sdb] tag#3 UNKNOWN(0x2003) Result: hostbyte=0x03 driverbyte=DRIVER_OK,SUGGEST_OK\nsd 0:0:0:1: [sdb] tag#3 CDB: opcode=0x2a 2a 00\n", "28 x1 30000, 2A x1 -1, unnamed 0"},
    {"NotTimeouts", "sd 0:0:0:0: [sda] tag#3 FAILED Result: hostbyte=DID_ABORT driverbyte=DRIVER_OK\nsd 0:0:0:0: [sda] tag#3 CDB: Read(10) 28 00\nst 2:0:0:0: tag#1 Done: SUCCESS Result: hostbyte=DID_OK\nst 2:0:0:0: tag#1 CDB: Read(6) 08 00\nsd 0:0:0:0: [sda] tag#4 FAILED Result: hostbyte=DID_RESET\nst 1:0:1:0: task abort: SUCCESS scmd(0x1)\n", "unnamed 0"},
    {"CdbForms", "st 5:0:0:0: attempting task abort! scmd(0x1)\nst 5:0:0:0: [sg6] CDB: Read(6): 08 01 00 00 01 00\nst 5:0:0:1: attempting task abort! scmd(0x2)\nst 5:0:0:1: CDB: cdb[0]=0x2b: 2b 00\nst 5:0:0:2: attempting task abort! scmd(0x3)\nst 5:0:0:2: CDB: opcode=0xc1 (vendor) c1 00\nst 5:0:0:3: attempting task abort! scmd(0x4)\nst 5:0:0:3: CDB: Variable length\nst 5:0:0:3: CDB[00]: 7f 00 00\nst 5:0:0:3: CDB[10]: 00 00\n", "08 x1 -1, 2B x1 -1, 7F x1 -1, C1 x1 -1, unnamed 0"},
    {"Mptscsih", "mptscsih: ioc0: attempting task abort! (sc=ffff8802fc5ce000)\nst 5:0:0:0: [sg6] CDB: Read(6): 08 01 00 00 01 00\n", "08 x1 -1, unnamed 0"},
    {"Uas", "scsi 3:0:0:0: tag#13 uas_eh_abort_handler 0 uas-tag 1 inflight: CMD IN\nscsi 3:0:0:0: tag#13 CDB: Read(10) 28 00\n", "28 x1 -1, unnamed 0"},
    {"Aic7xxx", "scsi1:0:6:0: Attempting to queue an ABORT message\nCDB: 0x11 0x1 0x7f 0xff 0xff 0x0\n", "11 x1 -1, unnamed 0"},
    {"Unnamed", "st 0:0:3:0: [st0] Error 30000 (driver bt 0, host bt 0x3).\nst0: Error 26030000\nst0: Error 80000 (sugg. bt 0x0, driver bt 0x0, host bt 0x8).\nmptscsih: ioc0: attempting task abort! (sc=1)\nst 0:0:10:0: timing out command, waited 14000s\nqla2xxx [0000:49:00.0]-801c:4: Abort command issued nexus=4:3:33 -- 1 2002.\nst 1:0:1:0: attempting task abort! scmd(0x7)\n", "unnamed 6"},
    {"AbortWithoutCdbBeforeNext", "st 1:0:1:0: attempting task abort! scmd(0x3)\n" + pair, "8C x1 60000, unnamed 1"},
    {"CompletionEndsAPendingAbort", abort_line + "\nst 1:0:1:0: tag#1 Done: SUCCESS Result: hostbyte=DID_OK\n" + cdb_line, "unnamed 1"},
    {"SameAbortTwice", abort_line + "\n" + pair, "8C x1 60000, unnamed 0"},
    {"TwoAges", "st 2:0:0:0: Done: TIMEOUT_ERROR cmd_age=60s\nst 2:0:0:0: CDB: Read(6) 08 00\nst 2:0:1:0: Done: TIMEOUT_ERROR cmd_age=30s\nst 2:0:1:0: CDB: opcode=0x8 08 00\n", "08 x2 60000, unnamed 0"},
    {"MoreStamps", "Dec 09 10:00:00.123456 host kernel: " + abort_line + "\n2026-12-09T09:00:00Z host kernel: st 1:0:1:0: CDB: opcode=0xA3, sa=0xc a3 0c\n", "A3 x1 60000, unnamed 0"},
    {"NotLogLines", "usb 1-1: new high-speed USB device\n[drm] Initialized\n[] x\n[ 0.000000] Linux version 6.1.0-13-amd64\neth0 is up\nDec  9 10:00:00:" + abort_line + "\n" + cdb_line, "unnamed 0"},
    {"JsonOddities", "{\"MESSAGE\": \"CDB\"\n{\"_TRANSPORT\": 5, \"MESSAGE\": \"abort\"}\n{\"CDB\": 1}\n{\"MESSAGE\": [300], \"x\": \"abort\"}\n{\"MESSAGE\": 5, \"x\": \"CDB\"}\n[\"CDB\"]\n", "unnamed 0"},
    {"ManyDevices", manyDevices(), "unnamed 300"},
    // One device's tagged events interleave: each pairs by its tag.
    {"TagsInterleave", failed_3 + "sd 0:0:0:0: [sda] tag#4 FAILED Result: hostbyte=DID_TIME_OUT cmd_age=31s\nsd 0:0:0:0: [sda] tag#3 CDB: Read(10) 28 00\nsd 0:0:0:0: [sda] tag#4 CDB: Write(10) 2a 00\n", "28 x1 30000, 2A x1 31000, unnamed 0"},
    // A command address seen again is a repeat only while nothing else of the device came between
    // and the CDB names the same code.
    {"AddressAgainOtherCode", pair + abort_line + "\nst 1:0:1:0: tag#9 CDB: Read(6) 08 00\n", "08 x1 60000, 8C x1 60000, unnamed 0"},
    {"AddressAgainAfterCompletion", pair + "st 1:0:1:0: tag#1 Done: SUCCESS Result: hostbyte=DID_OK\n" + pair, "8C x2 60000, unnamed 0"},
    {"AddressAgainAfterAnother", pair + "st 1:0:1:0: attempting task abort!scmd(0x2), timeout 60000 ms\n" + cdb_line + "\n" + pair, "8C x3 60000, unnamed 0"},
    // Without an address: one run of the error handler, not a day later, nor another tag.
    {"HoursApart", "2026-12-09T10:00:00.000000+00:00 host kernel: " + timeout_error_7 + "2026-12-09T10:00:00.000100+00:00 host kernel: st 2:0:0:0: tag#7 CDB: Read(6) 08 00\n2026-12-10T18:00:00.000000+00:00 host kernel: " + timeout_error_7 + "2026-12-10T18:00:00.000100+00:00 host kernel: st 2:0:0:0: tag#7 CDB: Read(6) 08 00\n", "08 x2 60000, unnamed 0"},
    {"SecondsApart", "[ 100.000000] " + timeout_error_7 + "[ 100.000100] st 2:0:0:0: tag#7 CDB: Read(6) 08 00\n[ 130.5] st 2:0:0:0: attempting task abort! scmd(0x9)\n[ 130.6] st 2:0:0:0: tag#7 CDB: Read(6) 08 00\n", "08 x1 60000, unnamed 0"},
    {"DaysApartInJournal", "{\"MESSAGE\":\"" + timeout_error_7.substr(0, timeout_error_7.size() - 1) + "\",\"__REALTIME_TIMESTAMP\":\"1765274400000000\"}\n{\"MESSAGE\":\"st 2:0:0:0: tag#7 CDB: Read(6) 08 00\"}\n{\"MESSAGE\":\"st 2:0:0:0: attempting task abort! scmd(0x9)\",\"__REALTIME_TIMESTAMP\":\"1765389600000000\"}\n{\"MESSAGE\":\"st 2:0:0:0: tag#7 CDB: Read(6) 08 00\"}\n", "08 x2 60000, unnamed 0"},
    {"OtherCommandBetween", timeout_error_7 + "st 2:0:0:0: tag#7 CDB: Read(6) 08 00\nst 2:0:0:0: tag#9 CDB: Write(6) 0a 00\n" + timeout_error_7 + "st 2:0:0:0: tag#7 CDB: Read(6) 08 00\n", "08 x2 60000, unnamed 0"},
    {"TagsDiffer", timeout_error_7 + "st 2:0:0:0: tag#7 CDB: Read(6) 08 00\nst 2:0:0:0: attempting task abort! scmd(0x9)\nst 2:0:0:0: tag#8 CDB: Read(6) 08 00\n", "08 x2 60000, unnamed 0"},
    // One command's ending is counted once, as the named event.
    {"StErrorAfterNamed", "st 0:0:3:0: attempting task abort! scmd(0x1), timeout 60000 ms\nst 0:0:3:0: tag#1 CDB: Space(6) 11 00\nst 0:0:3:0: attempting device reset! scmd(0x1)\nst 0:0:3:0: [st0] Error 30000 (driver bt 0, host bt 0x3).\n", "11 x1 60000, unnamed 0"},
    {"TimingOutBeforeFailed", "sd 0:0:0:0: [sda] tag#3 timing out command, waited 180s\n" + failed_3 + "sd 0:0:0:0: [sda] tag#3 CDB: Read(10) 28 00\n", "28 x1 30000, unnamed 0"},
    {"TimingOutAlone", "sd 0:0:0:0: [sda] tag#3 timing out command, waited 180s\nsd 0:0:0:0: [sda] tag#3 Done: SUCCESS Result: hostbyte=DID_OK\n" + failed_3, "unnamed 2"},
    // mptscsih: one sc= address is one event; a long CDB names it from its CDB[00] line.
    {"MptscsihRepeated", mpt_abort + mpt_cdb + mpt_abort + mpt_cdb, "08 x1 -1, unnamed 0"},
    {"MptscsihLongCdb", mpt_abort + "st 5:0:0:0: CDB: Variable length\nst 5:0:0:0: CDB[00]: 7f 00 00\nst 5:0:0:0: CDB[10]: 00 00\n", "7F x1 -1, unnamed 0"},
    {"MptscsihAnotherAddress", mpt_abort + mpt_cdb + "mptscsih: ioc0: attempting task abort! (sc=ffff8802fc5ce0ff)\n" + mpt_cdb, "08 x2 -1, unnamed 0"},
    // Not the kernel's: a program's tag with a PID, a journal record of another transport.
    {"LoggerCallsItselfKernel", "Dec  9 10:00:00 host kernel[4242]: " + abort_line + "\nDec  9 10:00:00 host kernel[4242]: " + cdb_line, "unnamed 0"},
    {"JsonOtherTransport", "{\"MESSAGE\":\"" + abort_line + "\",\"SYSLOG_IDENTIFIER\":\"kernel\",\"_TRANSPORT\":\"syslog\"}\n{\"MESSAGE\":\"" + cdb_line + "\",\"SYSLOG_IDENTIFIER\":\"kernel\",\"_TRANSPORT\":\"stdout\"}", "unnamed 0"},
    // Forms that once read as nothing.
    {"ShortMonotonicNoHostname", "[ 1234.567890] kernel: " + abort_line + "\n[ 1234.567891] kernel: " + cdb_line, "8C x1 60000, unnamed 0"},
    {"DmesgIsoComma", "2026-12-10T03:50:53,123456+00:00 " + abort_line + "\n2026-12-10T03:50:53,123500+00:00 " + cdb_line, "8C x1 60000, unnamed 0"},
    {"ByteOrderMark", "\xEF\xBB\xBF" + pair, "8C x1 60000, unnamed 0"},
    {"JsonSpacesAnyOrder", "{ \"_TRANSPORT\" : \"kernel\", \"MESSAGE\" : " + byteArray(abort_line) + " }\n  { \"__REALTIME_TIMESTAMP\" : \"1\" , \"MESSAGE\" : \"" + cdb_line + "\" }\n", "8C x1 60000, unnamed 0"},
    // Item by item of what a careless change would break.
    {"LunIsIdentity", "st 1:0:1:0: attempting task abort! scmd(0x1)\nst 1:0:1:1: tag#1 CDB: Read(6) 08 00\n", "unnamed 1"},
    {"BareCdbOnlyRightAfter", "st 1:0:1:0: attempting task abort! scmd(0x1)\nst 1:0:2:0: tag#1 Done: SUCCESS Result: hostbyte=DID_OK\nCDB: 0x11 0x1\n", "unnamed 1"},
    {"CompletionBetween", timeout_error_7 + "st 2:0:0:0: tag#7 CDB: Read(6) 08 00\nst 2:0:0:0: tag#7 Done: SUCCESS Result: hostbyte=DID_OK\n" + timeout_error_7 + "st 2:0:0:0: tag#7 CDB: Read(6) 08 00\n", "08 x2 60000, unnamed 0"},
    {"RepeatWithoutCdb", pair + abort_line, "8C x1 60000, unnamed 0"},
    {"EverNewDevices", everNewDevices(), "unnamed 1"},
    {"MailDamage", "> [1.0] " + abort_line + "\n> [1.0] " + cdb_line + "\nst 1:0:2:0: attempting task abort!scmd(0x3D)\nst 1:0:2:0: tag#1 CDB: Read\nattributes 8c 00\n", "unnamed 1"},
};
// clang-format on

class KernelLogRows : public ::testing::TestWithParam<LogRow> {};

TEST_P(KernelLogRows, FindTheTimedOutCommands) {
    EXPECT_EQ(summary(GetParam().text), GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(Advise, KernelLogRows, ::testing::ValuesIn(log_rows),
                         [](const auto& info) { return std::string(info.param.label); });

// A crafted line of any length keeps an event of bounded size: memory stays bounded too.
TEST(Advise, KeptFieldsAreBounded) {
    const std::string big(8000, '1');
    const std::string dev = "st 1:0:1:" + big + ": ";
    const std::string stamp = "2026-12-09T10:00:00." + big + "+01:00 host kernel: ";
    tool::KernelLogFindings f;
    tool::KernelLogReader scanner(f);
    scanner.startFile(0);
    scanner.line(stamp + dev +
                 "attempting task abort!scmd(0x1), outstanding for 1 ms & timeout 60000 ms");
    scanner.line(stamp + dev + "tag#1 CDB: Read attributes 8c");
    scanner.finish();
    // mptscsih's event takes the device of the CDB line that names it.
    scanner.line("mptscsih: ioc0: attempting task abort! (sc=1)");
    scanner.line(dev + "CDB: Read(6) 08 00");
    // A message kept is cut whole characters short, never inside one.
    std::string text = "st 9:0:0:0: timing out command, waited 19s ";
    for (int i = 0; i < 200; ++i) {
        text += "\xC3\xA9";
    }
    scanner.line(text);
    scanner.line(std::string(20000, 'x'));  // longer than a kernel message: skipped
    scanner.line(std::string(16384, 'x'));  // the longest read
    scanner.finish();
    ASSERT_EQ(f.codes[0x8C].examples.size(), 1u);
    EXPECT_LE(f.codes[0x8C].examples[0].device.size(), 64u);
    EXPECT_LE(f.codes[0x8C].examples[0].timestamp.size(), 64u);
    ASSERT_EQ(f.codes[0x08].examples.size(), 1u);
    EXPECT_LE(f.codes[0x08].examples[0].device.size(), 64u);
    ASSERT_EQ(f.unnamed_examples.size(), 1u);
    const std::string& kept = f.unnamed_examples[0].text;
    EXPECT_EQ(kept.size(), 239u);  // 31 bytes, then 104 whole characters
    EXPECT_EQ(kept.substr(kept.size() - 2), "\xC3\xA9");
    EXPECT_EQ(f.lines, 7u);
    ASSERT_EQ(f.long_lines.size(), 1u);
    EXPECT_EQ(f.long_lines[0].first, 6u);
    EXPECT_EQ(f.long_lines[0].count, 1u);
}

// ---- The advice's arithmetic ------------------------------------------------------------------

TEST(Advise, RoundingAndDurations) {
    const struct {
        int64_t expired_ms;
        int32_t seconds;
    } rows[] = {{60000, 660},   {0, 600},        {1, 660},          {600000, 1200},
                {601000, 1260}, {3600000, 7200}, {43200001, 86400}, {INT64_C(1) << 40, 86400}};
    for (const auto& row : rows) {
        EXPECT_EQ(tool::timeoutAfter(row.expired_ms), row.seconds) << row.expired_ms;
    }
    EXPECT_EQ(tool::unitsText(660), "11m");
    EXPECT_EQ(tool::unitsText(132), "2m12s");
    EXPECT_EQ(tool::unitsText(86400), "1d");
    for (int32_t s = 1; s <= 86400; ++s) {  // what advise prints, set stores exactly
        const tool::Duration d = tool::parseDuration(tool::unitsText(s).c_str());
        ASSERT_EQ(d.error, tool::DurationError::None) << s;
        ASSERT_EQ(d.seconds, s);
    }
}

// ---- The command, on the sample registry ------------------------------------------------------

// A copy of this process forked before each write reads it back.
Outcome runTool(std::vector<std::string> args,
                tool::ReadBack read_back = tool::ReadBack::ForkedEarly) {
    return runToolFor(std::move(args), read_back);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A scratch folder with the sample registry as the store, and the evidence files.
class AdviseCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = ::testing::TempDir() + "advise_XXXXXX";
        ASSERT_NE(::mkdtemp(dir_.data()), nullptr);
        st::reset();
        store_ = file("registry.ini", readFile(QR_SAMPLE_REGISTRY));
        ASSERT_NE(readFile(store_), "");
        ::setenv("QRLIB_STAND_IN_FILE", store_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("QRLIB_STAND_IN_FILE");
        for (const std::string& f : files_) {
            ::unlink(f.c_str());
        }
        ::rmdir(dir_.c_str());
    }
    std::string file(const char* name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        files_.push_back(path);
        return path;
    }
    std::string dir_;
    std::string store_;
    std::vector<std::string> files_;
};

const std::string field_example =
    "[456431.184458] st 1:0:1:0: attempting task abort!scmd(0x000000008b10e4e8), outstanding "
    "for 62233 ms & timeout 60000 ms\n"
    "[456431.184486] st 1:0:1:0: tag#4695 CDB: Read attributes 8c\n";

TEST_F(AdviseCommand, FieldExample) {
    const std::string log = file("field.log", field_example);
    const Outcome text = runTool({"advise", "--kernel-log", log});
    EXPECT_EQ(text.status, 1) << text.err;
    EXPECT_NE(text.out.find("CDB_8C  in force 120 s (DEFAULT)  proposed 660 s: "
                            "scsi-timeouts set CDB_8C 11m"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("longest expired 60 s"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("note: the log shows a timeout of 60 s, not the 120 s in force"),
              std::string::npos);
    const auto j = nlohmann::json::parse(runTool({"advise", "--json", "--kernel-log", log}).out);
    ASSERT_EQ(j["proposals"].size(), 1u);
    const auto& p = j["proposals"][0];
    EXPECT_EQ(p["set"], nlohmann::json::parse(R"(["scsi-timeouts", "set", "CDB_8C", "11m"])"));
    EXPECT_EQ(p["in_force"], 120);
    EXPECT_EQ(p["in_force_from"], "DEFAULT");
    EXPECT_EQ(p["evidence"][0]["expired"], 60);
    EXPECT_EQ(p["evidence"][0]["timestamp"], "456431.184458");
    EXPECT_EQ(p["notes"].size(), 1u);
    EXPECT_EQ(j["counts"], nlohmann::json::parse(R"({"lines": 2, "events": 1, "unnamed": 0})"));

    // Of many events the first are kept as evidence, and the one that decides E.
    std::string many;
    for (int i = 1; i <= 12; ++i) {
        many += "st 1:0:1:0: attempting task abort!scmd(0x" + std::to_string(i) +
                "), outstanding for 1 ms & timeout " + std::to_string(i == 10 ? 900000 : 60000) +
                " ms\nst 1:0:1:0: tag#1 CDB: Read attributes 8c\n";
    }
    const auto m = nlohmann::json::parse(
        runTool({"advise", "--json", "--kernel-log", file("many.log", many)}).out);
    const auto& evidence = m["proposals"][0]["evidence"];
    ASSERT_EQ(evidence.size(), 8u);
    EXPECT_EQ(evidence[0]["line"], 1);
    EXPECT_EQ(evidence[7]["line"], 19);
    EXPECT_EQ(evidence[7]["expired"], 900);

    // A line longer than a kernel message is counted and skipped, with one warning per file,
    // and what follows it is read: a journal record of a MiB, a line longer than any buffer.
    const std::string record = "{\"MESSAGE\":\"" + std::string(1 << 20, 'A') + " CDB\"}\n";
    const std::string long_lines =
        file("long.log", "\n" + record + std::string(3 << 20, 'x') + "\n" + field_example + record);
    const auto k =
        nlohmann::json::parse(runTool({"advise", "--json", "--kernel-log", long_lines}).out);
    EXPECT_EQ(k["counts"], nlohmann::json::parse(R"({"lines": 6, "events": 1, "unnamed": 0})"));
    EXPECT_EQ(k["warnings"], nlohmann::json::array({"\"" + long_lines +
                                                    "\": 3 lines longer than any kernel message "
                                                    "(16384 bytes) skipped, the first at line 2"}));
}

TEST_F(AdviseCommand, DriveReportAboveOneDay) {
    const std::string rsoc =
        file("drive.rsoc", report(cmd({0x8C, 60, 132}) + cmd({0x93, 0, 166370})));
    const Outcome r = runTool({"advise", "--json", "--drive-report", rsoc});
    EXPECT_EQ(r.status, 1) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["proposals"].size(), 2u);
    EXPECT_EQ(j["proposals"][0]["proposed"], 132);
    EXPECT_EQ(j["proposals"][0]["set"][3], "2m12s");
    EXPECT_EQ(j["proposals"][1]["name"], "CDB_93");
    EXPECT_EQ(j["proposals"][1]["proposed"], 86400);
    EXPECT_EQ(j["proposals"][1]["evidence"][0]["recommended"], 166370);
    ASSERT_EQ(j["warnings"].size(), 1u);
    EXPECT_NE(j["warnings"][0].get<std::string>().find("more than the library can hold"),
              std::string::npos);
}

// Exit status and what the store holds afterwards, for evidence against the sample registry
// (REWIND 900, READ 2880 by default, DEFAULT 120).
TEST_F(AdviseCommand, StatusesAndNeverShorter) {
    const std::string log = file("field.log", field_example);
    const std::string rewind_600 = file("r600.rsoc", report(cmd({0x01, 0, 600})));
    const std::string rewind_1000 = file("r1000.rsoc", report(cmd({0x01, 0, 1000})));
    const std::string same_1000 = file("same.rsoc", report(cmd({0x01, 1000, 0})));
    const std::string bad = file("bad.rsoc", "# not a report\n");
    const std::string read_age = file("age.log",
                                      "sd 0:0:0:0: tag#1 Done: TIMEOUT_ERROR Result: "
                                      "hostbyte=DID_OK cmd_age=30s\nsd 0:0:0:0: tag#1 CDB: "
                                      "Read(10) 28 00\n");
    const std::string no_time = file("mpt.log",
                                     "mptscsih: ioc0: attempting task abort! (sc=1)\n"
                                     "st 5:0:0:0: [sg6] CDB: Read(6): 08 01 00 00 01 00\n");
    const std::string read_2h = file("read2h.rsoc", report(cmd({0x08, 0, 7200})));
    const std::string read_60 = file("read60.log",
                                     "st 1:0:1:0: attempting task abort!scmd(0x1), outstanding "
                                     "for 1 ms & timeout 60000 ms\nst 1:0:1:0: CDB: Read(6) 08\n");
    const std::string read_2h_and_none =
        file("read2hnone.log",
             "st 1:0:1:0: attempting task abort!scmd(0x1), outstanding for 1 ms & timeout "
             "7200000 ms\nst 1:0:1:0: CDB: Read(6) 08\n"
             "mptscsih: ioc0: attempting task abort! (sc=1)\nst 5:0:0:0: CDB: Read(6) 08 00\n");
    const std::string long_age = file("longage.log",
                                      "sd 0:0:0:0: tag#1 Done: TIMEOUT_ERROR Result: "
                                      "hostbyte=DID_OK cmd_age=90000s\nsd 0:0:0:0: tag#1 CDB: "
                                      "Read(10) 28 00\n");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;               // in the output; "" for none
        const char* absent = nullptr;  // never in it
    } rows[] = {
        // The larger wins: a logged timeout never takes the place of what a drive asks.
        {{"advise", "--drive-report", read_2h, "--kernel-log", read_60},
         1,
         "proposed 7200 s: scsi-timeouts set READ 2h"},
        // An event that printed no timeout adds the one in force; the logged 2 h stays.
        {{"advise", "--kernel-log", read_2h_and_none},
         1,
         "proposed 14400 s: scsi-timeouts set READ 4h"},
        // An age longer than the timeout in force says nothing about the sender.
        {{"advise", "--kernel-log", long_age}, 1, "proposed 86400 s", "note:"},
        // Nothing to propose: --apply writes nothing and reports no change.
        {{"advise", "--drive-report", rewind_600, "--apply"}, 0, "enough", "store:"},
        {{"advise", "--drive-report", rewind_600}, 0, "in force 900 s (REWIND)  enough"},
        {{"advise", "--drive-report", rewind_1000}, 1, "scsi-timeouts set REWIND 16m40s"},
        {{"advise", "--drive-report", same_1000, "--drive-report", rewind_1000},
         1,
         "drive report \"" + same_1000 + "\" asks 1000 s"},
        {{"advise", "--drive-report", rewind_600, "--drive-report", rewind_1000},
         1,
         "drive report \"" + rewind_1000 + "\" asks 1000 s"},
        // READ's 2880 s in force counts for an event that printed no timeout; a cmd_age
        // shorter than it is a sign that the sender used its own timeout.
        {{"advise", "--kernel-log", no_time}, 1, "proposed 5760 s: scsi-timeouts set READ 1h36m"},
        {{"advise", "--kernel-log", read_age}, 1, "note: the log shows a timeout of 30 s"},
        {{"advise"}, 2, ""},
        {{"advise", "--dry-run", "--kernel-log", log}, 2, ""},
        {{"advise", "--kernel-log", "-", "--drive-report", "-"}, 2, ""},
        {{"advise", "--kernel-log", dir_ + "/missing.log"}, 2, ""},
        {{"advise", "--kernel-log", log, "--drive-report", bad, "--apply"}, 2, ""},
        {{"advise", "--kernel-log", log, "extra"}, 2, ""},
        {{"show", "--kernel-log", log}, 2, ""},
        {{"advise", "--kernel-log"}, 2, ""},
    };
    const std::string before = readFile(store_);
    for (const auto& row : rows) {
        const Outcome r = runTool(row.args);
        EXPECT_EQ(r.status, row.status) << row.args.back() << r.err;
        EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
        if (row.absent != nullptr) {
            EXPECT_EQ(r.out.find(row.absent), std::string::npos) << r.out;
        }
        if (row.status == 2) {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        EXPECT_EQ(readFile(store_), before) << "advise without --apply never writes";
    }
    EXPECT_NE(
        runTool({"advise", "--drive-report", bad}).err.find(": malformed drive report: line 1: "),
        std::string::npos);
    const std::string capture = runTool({"advise"}).err;
    EXPECT_NE(capture.find("sg_opcodes --rctd --raw /dev/sgN > FILE"), std::string::npos);
    EXPECT_NE(capture.find("journalctl -k > FILE"), std::string::npos);
}

// --apply goes through set: what a fresh process looks up afterwards is what was proposed.
TEST_F(AdviseCommand, ApplyAgreesWithAFreshProcess) {
    const std::string log = file("field.log", field_example);
    const std::string rsoc = file("drive.rsoc", report(cmd({0x93, 0, 166370})));
    const std::string before = readFile(store_);
    const Outcome dry =
        runTool({"advise", "--kernel-log", log, "--drive-report", rsoc, "--apply", "--dry-run"});
    EXPECT_EQ(dry.status, 1) << dry.err;
    EXPECT_NE(dry.out.find("would apply: CDB_8C: absent -> \"660\""), std::string::npos) << dry.out;
    EXPECT_EQ(readFile(store_), before) << "a dry run leaves the store byte for byte";

    const Outcome applied =
        runTool({"advise", "--kernel-log", log, "--drive-report", rsoc, "--apply"});
    EXPECT_EQ(applied.status, 1) << applied.err;
    EXPECT_NE(applied.out.find("applied: CDB_93: absent -> \"86400\""), std::string::npos);
    inFreshProcess([] {
        EXPECT_EQ(getScsiTimeout(0x8C), 660);
        EXPECT_EQ(getScsiTimeout(0x93), 86400);
    });
    const Outcome again = runTool({"advise", "--kernel-log", log, "--drive-report", rsoc});
    EXPECT_EQ(again.status, 0) << again.out;  // in force now: nothing more to propose
}

// A write that does not stick or a store that fails stops the apply, naming what was applied.
TEST_F(AdviseCommand, ApplyStopsAtTheFirstFailure) {
    ::unsetenv("QRLIB_STAND_IN_FILE");  // the in-memory store, whose faults a test can inject
    installProbe();
    const std::string rsoc = file("drive.rsoc", report(cmd({0x8C, 0, 132}) + cmd({0x93, 0, 600})));
    st::dropWrites();
    Outcome r = runTool({"advise", "--drive-report", rsoc, "--apply"}, tool::ReadBack::SameProcess);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("stopped at CDB_8C: CDB_8C did not read back as written"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("applied: none; not applied: CDB_8C, CDB_93"), std::string::npos);

    st::reset();
    installProbe();
    const int load = 1 + qr_scsi_timeouts::value_count;      // the probe, then every value
    st::failStoreCall(load + (load + 1 + load) + load + 1);  // advise, the first set, a write
    r = runTool({"advise", "--json", "--drive-report", rsoc, "--apply"},
                tool::ReadBack::SameProcess);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("stopped at CDB_93: the platform store failed"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("applied: CDB_8C; not applied: CDB_93"), std::string::npos);
    EXPECT_EQ(st::value("ScsiTimeouts", "CDB_8C"), "132");
    EXPECT_FALSE(st::value("ScsiTimeouts", "CDB_93").has_value());
}

// The text view of unnamed timeouts, warnings and fractions; unreadable inputs; a failing store.
TEST_F(AdviseCommand, TextViewAndFailures) {
    std::string log =
        "st 1:0:1:0: attempting task abort!scmd(0x1), outstanding for 1 ms & "
        "timeout 120000 ms\nst 1:0:1:0: CDB: Read(10) 28 00\n"
        "st 1:0:1:0: attempting task abort!scmd(0x2), outstanding for 1 ms & "
        "timeout 200500 ms\nst 1:0:1:0: CDB: Read(10) 28 00\n"
        "printk: 5 messages suppressed.\n";
    for (int i = 0; i < 70; ++i) {
        log += "st 0:0:3:0: [st0] Error 30000 (driver bt 0, host bt 0x3).\n";
    }
    const std::string path = file("k.log", log + "st 0:0:3:0: timing out command, waited 9s");
    const std::string cut = file("cut.rsoc", report(cmd({0x01, 0, 5000}), 8));
    const Outcome r = runTool({"advise", "--kernel-log", path, "--drive-report", cut});
    EXPECT_EQ(r.status, 1) << r.err;
    for (const std::string& expected : std::vector<std::string>{
             "scsi-timeouts set CDB_28 14m", "longest expired 200.5 s (\"" + path + "\" line 3,",
             "note: the log shows a timeout of 200.5 s, not the 120 s in force", "warning: \"",
             "cut short: the command data length promises 28 bytes, 20 are present",
             "warning: the log dropped or folded messages", "unnamed timeouts",
             "  \"st 0:0:3:0\"  \"", "  ... and 7 more\n", "scsi_logging_level -s --mlcomplete 1",
             "scsi-timeouts set REWIND 1h23m20s", "71 unnamed"}) {
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    }
    for (const auto& args : {std::vector<std::string>{"advise", "--kernel-log", dir_},
                             std::vector<std::string>{"advise", "--drive-report", dir_}}) {
        const Outcome unreadable = runTool(args);
        EXPECT_EQ(unreadable.status, 2);
        EXPECT_NE(unreadable.err.find("cannot read"), std::string::npos) << unreadable.err;
    }
    st::failConstruction(1);
    const Outcome failing = runTool({"advise", "--kernel-log", path});
    EXPECT_EQ(failing.status, 2);
    EXPECT_NE(failing.err.find("the platform store failed"), std::string::npos) << failing.err;
}

// Log text and file names of any bytes give valid JSON that gives them back.
TEST_F(AdviseCommand, JsonIsLosslessForAnyBytes) {
    const std::string log =
        file("log\xE9.txt", "st 9:0:0:0: timing out command, waited \xFF\x01s\n" + field_example);
    const Outcome r = runTool({"advise", "--json", "--kernel-log", log});
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["unnamed"].size(), 1u);
    const auto bytes = [](const nlohmann::json& v) {
        std::string s;
        for (const auto& b : v) {
            s += static_cast<char>(b.get<int>());
        }
        return s;
    };
    EXPECT_EQ(bytes(j["unnamed"][0]["text"]), "timing out command, waited \xFF\x01s");
    EXPECT_EQ(bytes(j["unnamed"][0]["file"]), log);
    EXPECT_EQ(j["unnamed"][0]["device"], "st 9:0:0:0");
    EXPECT_EQ(j["counts"]["unnamed"], 1);

    // Warnings and notes carry file names as bytes too.
    const std::string drive = file("drive\xE9.rsoc", report(cmd({0x93, 0, 166370})));
    const std::string long_log = file("long\xE9.log", std::string(20000, 'x') + "\n");
    const auto w = nlohmann::json::parse(
        runTool({"advise", "--json", "--drive-report", drive, "--kernel-log", long_log}).out);
    ASSERT_EQ(w["warnings"].size(), 2u);
    const std::string asks =
        "\"" + drive +
        "\" asks 166370 s for CDB_93, more than the library can hold (at most 86400 s)";
    EXPECT_EQ(
        bytes(w["warnings"][0]),
        "\"" + long_log +
            "\": 1 line longer than any kernel message (16384 bytes) skipped, the first at line 1");
    EXPECT_EQ(bytes(w["warnings"][1]), asks);
    EXPECT_EQ(bytes(w["proposals"][0]["notes"][0]), asks);
}

}  // namespace
