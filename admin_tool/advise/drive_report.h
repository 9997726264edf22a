// A drive's own command timeouts, from its REPORT SUPPORTED OPERATION CODES response, turned into
// what the drive asks per operation code. Two forms of one report: the bytes
// `sg_opcodes --rctd --raw` writes, and the table `sg_opcodes --rctd` prints
// (drive_report_text.cpp). No store access, no files: bytes in, asks out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scsi_timeouts_tool {

// The largest a report may be, in either form: a drive lists a few hundred commands at most.
constexpr std::size_t drive_report_max = std::size_t{1} << 20;

struct DriveAsk {
    bool present = false;      // a descriptor with a timeout other than 0 for this code
    uint32_t seconds = 0;      // recommended, or nominal where recommended is 0
    uint32_t recommended = 0;  // of the descriptor that asks the most
    uint32_t nominal = 0;
};

struct DriveReport {
    bool malformed = false;
    std::size_t offset = 0;  // where it is malformed: a byte, or the start of a line of the table
    std::string reason;
    std::vector<std::string> warnings;  // cut short, bytes after the length
    std::size_t with_timeouts = 0;      // commands listed with a timeouts descriptor
    std::array<DriveAsk, 256> asks{};   // per code: the largest over its service actions
};

// Either form, told apart by the first byte: a report's length of at most 1 MiB starts with a
// 0 byte, which text never does. A report in which no command has a timeouts descriptor (captured
// without --rctd) is refused: it would propose nothing, as if the drive were content with what is
// in force. `size` may exceed drive_report_max by a byte: a reader stops there.
DriveReport parseDriveReport(const unsigned char* data, std::size_t size);

// The table form alone (drive_report_text.cpp); parseDriveReport decides which form it reads.
DriveReport parseOpcodesTable(const unsigned char* data, std::size_t size);

// One command's timeouts, the same rule in both forms: it asks its recommended timeout, the
// nominal one only where the recommended one is 0; a code asks the most of its service actions.
struct CommandTimeouts {
    uint32_t nominal = 0;  // in seconds; 0: not given
    uint32_t recommended = 0;
};
void addTimeouts(DriveReport& report, unsigned char opcode, CommandTimeouts timeouts);

DriveReport refusedReport(DriveReport report, std::size_t offset, std::string reason);

}  // namespace scsi_timeouts_tool
