// The table `sg_opcodes --rctd /dev/sgN` prints, its layout stable since sg3_utils 1.40:
//
//     IBM       ULT3580-TD8       MB28           (the identity, optional; then the device type)
//   Opcode  Service    CDB   Nominal  Recommended  Name
//   (hex)   action(h)  size  timeout  timeout(sec)
//   ----------------------------------------------------------------
//    a3        c        12        30        120    Report supported operation codes
//    12                  6                         Inquiry   (without a timeouts descriptor)
//
// The service action is right-aligned in columns 8-11 (zero-padded before 1.40); the nominal
// timeout takes 10 columns, the recommended one 11, '-' for 0. --compact prints "OP,SA" and no
// CDB size. Only the hex columns and the timeouts are read: names differ between versions.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "drive_report.h"
#include "hex_digit.h"

namespace scsi_timeouts_tool {

namespace {

enum class Layout { Default, Compact };

constexpr std::size_t timeouts_width = 10 + 11;
constexpr const char* not_a_table =
    "the header \"Opcode  Service    CDB   Nominal  Recommended  Name\" of the table "
    "sg_opcodes --rctd prints (or the bytes of sg_opcodes --rctd --raw)";
constexpr const char* without_rctd =
    "the timeout columns: this table was printed without --rctd; capture it again with "
    "sg_opcodes --rctd --raw /dev/sgN > FILE";
constexpr const char* units_or_dashes = "the header's second line, \"(hex) ...\", or its dashes";
constexpr const char* dashes = "the dashes under the header";
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

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
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

// A timeout in seconds, or '-' for 0; nothing when the field is neither.
std::optional<uint32_t> readTimeout(std::string_view line, std::size_t& at) {
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
    if (at == start || value > UINT32_MAX || !endOfField(line, at)) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// " OP,SA  " or " OP     ", up to the end of the service action.
bool readCompactColumns(std::string_view line, std::size_t& at) {
    at = 3;
    return line[3] == ',' ? readHex(line, ++at, 4, false) : endOfField(line, at);
}

// " OP     SA       CDB": the service action right-aligned in columns 8-11 (blank when the
// command has none), then the CDB size, up to its end.
bool readDefaultColumns(std::string_view line, std::size_t& at) {
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
    return at > size_start && endOfField(line, at);
}

// One row of the table into the report; false when the line is not one.
bool readRow(std::string_view line, Layout layout, DriveReport& report) {
    if (line.size() < 4 || line[0] != ' ' || hexDigit(line[1]) < 0 || hexDigit(line[2]) < 0) {
        return false;
    }
    const auto opcode = static_cast<unsigned char>(hexDigit(line[1]) * 16 + hexDigit(line[2]));
    std::size_t at = 3;
    const bool compact = layout == Layout::Compact;
    if (!(compact ? readCompactColumns(line, at) : readDefaultColumns(line, at))) {
        return false;
    }
    const std::size_t timeouts_column = compact ? 8 : 22;
    if (timeouts_column >= line.size() || blank(line.substr(timeouts_column, timeouts_width))) {
        return true;  // no timeouts descriptor; the name is not read
    }
    const std::optional<uint32_t> nominal = readTimeout(line, at);
    const std::optional<uint32_t> recommended = nominal ? readTimeout(line, at) : std::nullopt;
    if (!recommended) {
        return false;
    }
    addTimeouts(report, opcode, {*nominal, *recommended});
    return true;
}

// The table a line at a time. Each step gives what was expected where a line does not fit.
class TableReader {
  public:
    explicit TableReader(DriveReport& report) : report_(report) {}

    const char* line(std::string_view line) {
        const std::string w = words(line);
        const bool at_start = at_start_;
        at_start_ = at_start && w.empty();
        if (w.empty()) {
            return part_ == Part::AfterHeader ? underHeader() : nullptr;
        }
        switch (part_) {
            case Part::BeforeHeader:
                return beforeHeader(line, w, at_start);
            case Part::AfterHeader:
                return afterHeader(w);
            case Part::Rows:
                break;
        }
        const bool compact = layout_ == Layout::Compact;
        return readRow(line, layout_, report_) ? nullptr : compact ? compact_row : default_row;
    }

    // What is missing when the text ends here.
    const char* end() const {
        return part_ == Part::Rows          ? nullptr
               : part_ == Part::AfterHeader ? underHeader()
                                            : "the table's header";
    }

  private:
    enum class Part { BeforeHeader, AfterHeader, Rows };

    const char* beforeHeader(std::string_view line, const std::string& w, bool at_start) {
        if (w == "Opcode Service CDB Nominal Recommended Name" ||
            w == "Opcode,sa Nominal Recommended Name") {
            layout_ = w[6] == ',' ? Layout::Compact : Layout::Default;
            part_ = Part::AfterHeader;
            units_line_allowed_ = true;
            return nullptr;
        }
        if (w == "Opcode Service CDB Name" || w == "Opcode,sa Name") {
            return without_rctd;
        }
        // The device's identity, first, and its type.
        const bool identity = at_start && line[0] == ' ';
        return identity || startsWith(w, "Peripheral device type:") ? nullptr : not_a_table;
    }

    const char* afterHeader(const std::string& w) {
        if (units_line_allowed_ && startsWith(w, "(hex)")) {
            units_line_allowed_ = false;
            return nullptr;
        }
        if (w.find_first_not_of('-') != std::string::npos) {
            return underHeader();
        }
        part_ = Part::Rows;
        return nullptr;
    }

    const char* underHeader() const { return units_line_allowed_ ? units_or_dashes : dashes; }

    DriveReport& report_;
    Part part_ = Part::BeforeHeader;
    Layout layout_ = Layout::Default;
    bool at_start_ = true;  // blank lines alone so far: the identity line may come
    bool units_line_allowed_ = false;
};

}  // namespace

DriveReport parseOpcodesTable(const unsigned char* data, std::size_t size) {
    DriveReport report;
    TableReader reader(report);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;  // a pasted text's BOM
    std::size_t number = 1;
    for (; start < size; ++number) {
        const std::size_t end = std::min(text.find('\n', start), size);
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (const char* expected = reader.line(line)) {
            return refusedReport(std::move(report), start,
                                 "line " + std::to_string(number) + ": expected " + expected);
        }
        start = end + 1;
    }
    if (const char* missing = reader.end()) {
        return refusedReport(
            std::move(report), size,
            "line " + std::to_string(number) + ": the text ends; expected " + missing);
    }
    return report;
}

}  // namespace scsi_timeouts_tool
