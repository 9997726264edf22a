// A drive's REPORT SUPPORTED OPERATION CODES response with its command timeouts descriptors
// (what `sg_opcodes --rctd --raw` writes), turned into what the drive asks per operation code.
// No store access, no files: bytes in, asks out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scsi_timeouts_tool {

// The largest a report may be: a text file given by mistake reads as a length of hundreds of
// megabytes, and is refused by this.
constexpr std::size_t drive_report_max = std::size_t{1} << 20;

struct DriveAsk {
    bool present = false;      // a descriptor with a timeout other than 0 for this code
    uint32_t seconds = 0;      // recommended, or nominal where recommended is 0
    uint32_t recommended = 0;  // of the descriptor that asks the most
    uint32_t nominal = 0;
};

struct DriveReport {
    bool malformed = false;
    std::size_t offset = 0;  // where it is malformed
    std::string reason;
    std::vector<std::string> warnings;  // cut short, bytes after the length
    std::array<DriveAsk, 256> asks{};   // per code: the largest over its service actions
};

// `size` may exceed drive_report_max by a byte: a reader stops there.
DriveReport parseDriveReport(const unsigned char* data, std::size_t size);

}  // namespace scsi_timeouts_tool
