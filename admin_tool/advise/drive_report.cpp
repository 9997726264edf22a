#include "drive_report.h"

namespace scsi_timeouts_tool {

namespace {

constexpr std::size_t header_size = 4;
constexpr std::size_t command_descriptor_size = 8;
constexpr std::size_t timeouts_descriptor_size = 12;
constexpr unsigned ctdp = 0x02;  // byte 5: a timeouts descriptor follows (bit 0 is SERVACTV)

uint32_t be16(const unsigned char* p) {
    return uint32_t{p[0]} << 8 | p[1];
}
uint32_t be32(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The bytes `sg_opcodes --rctd --raw` writes.
DriveReport parseRawReport(const unsigned char* data, std::size_t size) {
    DriveReport report;
    if (size < header_size) {
        return refusedReport(report, size, "shorter than 4 bytes: no command data length");
    }
    const std::size_t length = be32(data);
    if (length > drive_report_max) {
        return refusedReport(report, 0,
                             "the command data length says " + std::to_string(length) +
                                 " bytes, more than 1 MiB: not a drive's report");
    }
    const std::size_t end = header_size + length;
    const bool cut_short = end > size;  // the sender's allocation length was too small
    const std::size_t present = cut_short ? size : end;
    std::size_t at = header_size;
    while (at < present) {
        const unsigned char* d = data + at;
        const bool has_timeouts = at + 5 < present && (d[5] & ctdp) != 0;
        const std::size_t whole =
            command_descriptor_size + (has_timeouts ? timeouts_descriptor_size : 0);
        if (at + whole > present && cut_short) {
            break;  // only whole descriptors count
        }
        if (at + whole > present) {
            return refusedReport(report, at,
                                 "a command descriptor cut off by the end of the data (" +
                                     std::to_string(present - at) + " of " + std::to_string(whole) +
                                     " bytes)");
        }
        if (has_timeouts) {
            const unsigned char* t = d + command_descriptor_size;
            if (be16(t) != timeouts_descriptor_size - 2) {
                return refusedReport(report, at + command_descriptor_size,
                                     "a command timeouts descriptor of length " +
                                         std::to_string(be16(t)) + ", not 10");
            }
            addTimeouts(report, d[0], {be32(t + 4), be32(t + 8)});
        }
        at += whole;
    }
    if (cut_short) {
        report.warnings.push_back(
            "cut short: the command data length promises " + std::to_string(length) + " bytes, " +
            std::to_string(size - header_size) +
            " are present; used up to the last whole descriptor (byte " + std::to_string(at) + ")");
    } else if (size > end) {
        report.warnings.push_back(std::to_string(size - end) + " bytes after the " +
                                  std::to_string(length) +
                                  " the command data length gives: ignored");
    }
    return report;
}

}  // namespace

DriveReport refusedReport(DriveReport report, std::size_t offset, std::string reason) {
    report.malformed = true;
    report.offset = offset;
    report.reason = std::move(reason);
    return report;
}

void addTimeouts(DriveReport& report, unsigned char opcode, CommandTimeouts timeouts) {
    ++report.with_timeouts;
    const uint32_t asked = timeouts.recommended != 0 ? timeouts.recommended : timeouts.nominal;
    DriveAsk& ask = report.asks[opcode];
    if (asked != 0 && (!ask.present || asked > ask.seconds)) {
        // the longest of the code's service actions
        ask = {true, asked, timeouts.recommended, timeouts.nominal};
    }
}

DriveReport parseDriveReport(const unsigned char* data, std::size_t size) {
    if (size > drive_report_max) {
        return refusedReport({}, drive_report_max, "larger than 1 MiB: not a drive's report");
    }
    DriveReport report =
        size > 0 && data[0] != 0 ? parseOpcodesTable(data, size) : parseRawReport(data, size);
    if (!report.malformed && report.with_timeouts == 0) {
        return refusedReport(std::move(report), 0,
                             "no command in it has a timeouts descriptor: it was captured "
                             "without --rctd, or the drive reports no timeouts; capture it "
                             "again with sg_opcodes --rctd --raw /dev/sgN > FILE");
    }
    return report;
}

}  // namespace scsi_timeouts_tool
