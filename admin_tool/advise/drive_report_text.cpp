// The table `sg_opcodes --rctd /dev/sgN` prints, stable since sg3_utils 1.40:
//
//     IBM       ULT3580-TD8       MB28           (the device's identity, optional)
//     Peripheral device type: tape               (optional)
//
//   Opcode  Service    CDB   Nominal  Recommended  Name
//   (hex)   action(h)  size  timeout  timeout(sec)
//   ----------------------------------------------------------------
//    00                  6         -          -    Test Unit Ready
//    a3        c        12        30        120    Report supported operation codes
//    12                  6                         Inquiry             (no timeouts descriptor)
//
// A row: the opcode in hex at column 1, the service action in hex right-aligned at columns 8-11
// (zero-padded before 1.40), the CDB size, then the nominal timeout in 10 columns and the
// recommended one in 11 ('-' for 0, blank without a timeouts descriptor), and the name. With
// --compact the first columns are "OP,SA" and the CDB size is left out. Only the hex columns and
// the timeouts are read: the names differ between versions.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "drive_report.h"
#include "hex_digit.h"

namespace scsi_timeouts_tool {

namespace {

enum class Layout { Default, Compact };

constexpr std::size_t timeouts_width = 10 + 11;
constexpr const char* default_header = "Opcode  Service    CDB   Nominal  Recommended  Name";
constexpr const char* default_row =
    "a row \" OP     SA       CDB   NOMINAL  RECOMMENDED    NAME\" (OP and SA in hex, the "
    "timeouts in seconds or '-')";
constexpr const char* compact_row =
    "a row \" OP,SA   NOMINAL  RECOMMENDED    NAME\" (OP and SA in hex, the timeouts in seconds "
    "or '-')";

bool blank(std::string_view s) {
    return s.find_first_not_of(" \t") == std::string_view::npos;
}

// The words of a line, one space apart: headers are matched whatever their spacing.
std::string words(std::string_view line) {
    std::string out;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(" \t", at)) != std::string_view::npos) {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        out += (out.empty() ? "" : " ") + std::string(line.substr(at, end - at));
        at = end;
    }
    return out;
}

bool endOfField(std::string_view line, std::size_t at) {
    return at >= line.size() || line[at] == ' ';
}

// `digits` hex digits at most (exactly, with `exact`), then the end of the field.
bool readHex(std::string_view line, std::size_t& at, std::size_t digits, bool exact) {
    const std::size_t start = at;
    while (at < line.size() && at - start < digits && hexDigit(line[at]) >= 0) {
        ++at;
    }
    return at > start && (!exact || at - start == digits) && endOfField(line, at);
}

void skipSpaces(std::string_view line, std::size_t& at) {
    while (at < line.size() && line[at] == ' ') {
        ++at;
    }
}

// A timeout in seconds, or '-' for 0.
bool readTimeout(std::string_view line, std::size_t& at, uint32_t& seconds) {
    skipSpaces(line, at);
    uint64_t value = 0;
    const std::size_t start = at;
    if (at < line.size() && line[at] == '-') {
        ++at;
    } else {
        while (at < line.size() && line[at] >= '0' && line[at] <= '9' && value <= UINT32_MAX) {
            value = value * 10 + static_cast<unsigned>(line[at++] - '0');
        }
    }
    seconds = static_cast<uint32_t>(value);
    return at > start && value <= UINT32_MAX && endOfField(line, at);
}

// One row of the table into the report; false when the line is not one.
bool readRow(std::string_view line, Layout layout, DriveReport& report) {
    if (line.size() < 4 || line[0] != ' ' || hexDigit(line[1]) < 0 || hexDigit(line[2]) < 0) {
        return false;
    }
    const auto opcode = static_cast<unsigned char>(hexDigit(line[1]) * 16 + hexDigit(line[2]));
    std::size_t at = 3;
    std::size_t timeouts_column = 8;
    if (layout == Layout::Compact) {
        if (line[3] == ',' && !readHex(line, ++at, 4, false)) {
            return false;
        }
        if (!endOfField(line, at)) {
            return false;
        }
    } else {
        // The service action is right-aligned in columns 8-11, blank when the command has none.
        if (line.size() < 13 || !blank(line.substr(3, 5)) || line[12] != ' ') {
            return false;
        }
        const std::string_view action = line.substr(8, 4);
        if (!blank(action)) {
            at = 8 + action.find_first_not_of(' ');
            if (!readHex(line, at, 12 - at, true)) {
                return false;
            }
        }
        at = 12;
        skipSpaces(line, at);
        const std::size_t size_start = at;
        while (at < line.size() && at - size_start < 5 && line[at] >= '0' && line[at] <= '9') {
            ++at;
        }
        if (at == size_start || !endOfField(line, at)) {
            return false;  // the CDB size
        }
        timeouts_column = 22;
    }
    if (timeouts_column >= line.size() || blank(line.substr(timeouts_column, timeouts_width))) {
        return true;  // no timeouts descriptor; the name is not read
    }
    uint32_t nominal = 0;
    uint32_t recommended = 0;
    if (!readTimeout(line, at, nominal) || !readTimeout(line, at, recommended)) {
        return false;
    }
    addTimeouts(report, opcode, nominal, recommended);
    return true;
}

const char* underHeader(bool units_line_allowed) {
    return units_line_allowed ? "the header's second line, \"(hex) ...\", or its dashes"
                              : "the dashes under the header";
}

// Where the reader is in the text.
enum class Part { BeforeHeader, AfterHeader, Rows };

}  // namespace

DriveReport parseOpcodesTable(const unsigned char* data, std::size_t size) {
    DriveReport report;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Part part = Part::BeforeHeader;
    Layout layout = Layout::Default;
    bool identity_allowed = true;  // the first line only
    bool units_line_allowed = false;
    std::size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;  // a pasted text's BOM
    std::size_t number = 1;
    for (; start < size; ++number) {
        const std::size_t end = std::min(text.find('\n', start), size);
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t line_start = start;
        start = end + 1;
        const std::string w = words(line);
        const bool first = identity_allowed;
        identity_allowed = false;
        const auto refuse = [&](const std::string& expected) {
            return refusedReport(std::move(report), line_start,
                                 "line " + std::to_string(number) + ": expected " + expected);
        };
        if (w.empty()) {
            identity_allowed = first;
            if (part == Part::AfterHeader) {
                return refuse(underHeader(units_line_allowed));
            }
            continue;
        }
        if (part == Part::Rows) {
            if (!readRow(line, layout, report)) {
                return refuse(layout == Layout::Default ? default_row : compact_row);
            }
        } else if (part == Part::AfterHeader) {
            if (units_line_allowed && w.rfind("(hex)", 0) == 0) {
                units_line_allowed = false;  // the header's second line
            } else if (w.find_first_not_of('-') != std::string::npos) {
                return refuse(underHeader(units_line_allowed));
            } else {
                part = Part::Rows;
            }
        } else if (w == "Opcode Service CDB Nominal Recommended Name" ||
                   w == "Opcode,sa Nominal Recommended Name") {
            layout = w[6] == ',' ? Layout::Compact : Layout::Default;
            part = Part::AfterHeader;
            units_line_allowed = true;
        } else if (w == "Opcode Service CDB Name" || w == "Opcode,sa Name") {
            return refuse(
                std::string("the timeout columns: this table was printed without "
                            "--rctd; capture it again with sg_opcodes --rctd --raw "
                            "/dev/sgN > FILE"));
        } else if (w.rfind("Peripheral device type:", 0) == 0 || (first && line[0] == ' ')) {
            continue;  // the identity and type lines before the table
        } else {
            return refuse(std::string("the header \"") + default_header +
                          "\" of the table sg_opcodes --rctd prints (or the bytes of "
                          "sg_opcodes --rctd --raw)");
        }
    }
    if (part != Part::Rows) {
        return refusedReport(std::move(report), size,
                             "line " + std::to_string(number) + ": the text ends; expected " +
                                 (part == Part::BeforeHeader ? "the table's header" : "its rows"));
    }
    return report;
}

}  // namespace scsi_timeouts_tool
