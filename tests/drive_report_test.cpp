// advise's reader of a drive's own command timeouts: reports built byte by byte from their layout,
// sg_opcodes' table printed from the same commands, and what advise makes of both.
#include <gtest/gtest.h>

#include <drive_report.h>
#include <scsi_timeouts_tool.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drive_report_bytes.h"
#include "store_helpers.h"
#include "tool_run.h"

namespace {

namespace tool = scsi_timeouts_tool;

// A byte more than a report may have, and its first MiB a whole report with bytes after it.
Bytes overOneMiB() {
    Bytes body;
    while (body.size() + 20 <= tool::drive_report_max - 4) {
        body += cmd({0x8C, 0, 132});
    }
    return report(body) + Bytes(tool::drive_report_max + 1 - 4 - body.size(), 'x');
}

tool::DriveReport parse(const Bytes& bytes) {
    return tool::parseDriveReport(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size());
}

struct DriveRow {
    const char* label;
    Bytes bytes;
    long offset;  // where it is malformed; -1: it is not
    int code;
    uint32_t asks;  // 0: nothing asked
    std::size_t warnings;
};

// clang-format off
const DriveRow drive_rows[] = {
    {"RecommendedFirst", report(cmd({0x8C, 60, 132})), -1, 0x8C, 132, 0},
    {"NominalWhenNoRecommended", report(cmd({0x8C, 60, 0})), -1, 0x8C, 60, 0},
    {"ZerosAskNothing", report(cmd({0x8C, 0, 0})), -1, 0x8C, 0, 0},
    {"LargestServiceAction",
     report(cmd({0xA3, 0, 30, true, 0x0C}) + cmd({0xA3, 0, 90, true, 0x0D}) + cmd({0xA3, 5, 0, true, 5})),
     -1, 0xA3, 90, 0},
    {"CtdpOffThenOne", report(cmd({0x12, 0, 0, false}) + cmd({0x8C, 0, 132})), -1, 0x8C, 132, 0},
    {"NominalLargerStillRecommended", report(cmd({0x8C, 7200, 600})), -1, 0x8C, 600, 0},
    {"ServiceActionWithoutTimeoutsIs8Bytes", report(cmd({0xA3, 0, 0, false, 0x0C}) + cmd({0x8C, 0, 132})), -1, 0x8C, 132, 0},
    {"NoCommandWithTimeouts", report(cmd({0x12, 0, 0, false}) + cmd({0xA3, 0, 0, false, 0x0C})), 0, 0, 0, 0},
    {"OtherFlagsIgnored", report(cmd({0x92, 0, 7200, true, -1, 0x7C})), -1, 0x92, 7200, 0},
    {"AboveOneDay", report(cmd({0x93, 100000, 166370})), -1, 0x93, 166370, 0},
    {"EmptyList", report(""), 0, 0, 0, 0},
    {"CutShort", report(cmd({0x8C, 0, 132}) + cmd({0x93, 0, 9}).substr(0, 11), 9), -1, 0x93, 0, 1},
    {"CutShortKeepsWhole", report(cmd({0x8C, 0, 132}), 20), -1, 0x8C, 132, 1},
    {"TrailingBytes", report(cmd({0x8C, 0, 132})) + "abc", -1, 0x8C, 132, 1},
    {"ThreeBytes", Bytes("\0\0\0", 3), 3, 0, 0, 0},
    {"DescriptorCutOff", report(cmd({0x8C, 0, 132}) + cmd({0x93, 0, 9}).substr(0, 5)), 24, 0, 0, 0},
    {"TimeoutsLengthNot10", report(cmd({0x12, 0, 0, false}) + cmd({0x8C, 0, 132, true, -1, 0, 12})),
     20, 0, 0, 0},
    {"LengthAboveOneMiB", be<4>(0x100001) + cmd({0x8C, 0, 132}), 0, 0, 0, 0},
    {"TextFile", "# a text file\n", 0, 0, 0, 0},
    {"FileAboveOneMiB", report(Bytes(tool::drive_report_max - 3, '\0')), 1 << 20, 0, 0, 0},
    {"AboveOneMiBThoughItsFirstMiBParses", overOneMiB(), 1 << 20, 0, 0, 0},
};
// clang-format on

class DriveReportRows : public ::testing::TestWithParam<DriveRow> {};

TEST_P(DriveReportRows, ParseAsTheLayoutSays) {
    const DriveRow& row = GetParam();
    const tool::DriveReport r = parse(row.bytes);
    EXPECT_EQ(r.malformed, row.offset >= 0) << r.reason;
    if (r.malformed) {
        EXPECT_EQ(static_cast<long>(r.offset), row.offset) << r.reason;
        return;
    }
    EXPECT_EQ(r.asks[row.code].present, row.asks != 0);
    EXPECT_EQ(r.asks[row.code].seconds, row.asks);
    EXPECT_EQ(r.warnings.size(), row.warnings);
}

INSTANTIATE_TEST_SUITE_P(DriveReport, DriveReportRows, ::testing::ValuesIn(drive_rows),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(DriveReport, TheFirstMiBOfTheLargeOneParses) {
    const Bytes large = overOneMiB();
    const tool::DriveReport r = parse(large.substr(0, tool::drive_report_max));
    EXPECT_FALSE(r.malformed) << r.reason;
    EXPECT_EQ(r.asks[0x8C].seconds, 132u);
}

// ---- sg_opcodes' table -----------------------------------------------------------------------

// One table of commands, printed as sg_opcodes --rctd prints it and captured as --raw: the two
// cannot drift apart. The names are not what a reader may go by (0x01 and 0x2B are named as
// tape drives have them since sg3_utils 1.48; 0xC1 looks like timeouts).
struct Listed {
    Command command;
    const char* name;
};
const Listed listed[] = {
    {{0x00, 0, 0}, "Test Unit Ready"},
    {{0x01, 60, 0}, "Rezero Unit"},
    {{0x2B, 7200, 600}, "Seek(10)"},
    {{0x12, 0, 0, false}, "Inquiry"},
    {{0xA3, 0, 30, true, 0x0C}, "Report supported operation codes"},
    {{0xA3, 0, 90, true, 0x0D}, "Report supported task management functions"},
    {{0xA3, 0, 0, false, 0x05}, "Report identifying information"},
    {{0x9E, 5, 0, true, 0x10}, "Read capacity(16)"},
    {{0x7F, 0, 45, true, 0x1800}, "Variable length"},
    {{0x93, 100000, 166370}, "Erase(16)"},
    {{0xC1, 0, 4294967295u}, "   60    120    Vendor specific"},
};

enum class Form { Default, Compact, Before140 };

std::string rightAligned(const std::string& s, std::size_t width) {
    return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}

std::string hex(unsigned value, int zero_padded_to, bool upper) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, upper ? "%0*X" : "%0*x", zero_padded_to, value);
    return buffer;
}

// A timeout as sg_opcodes prints it: "%8u" after 2 or 3 spaces, or '-' at the column's end.
std::string timeoutColumn(uint32_t seconds, std::size_t width) {
    return seconds == 0 ? rightAligned("-", width)
                        : std::string(width - 8, ' ') + rightAligned(std::to_string(seconds), 8);
}

std::string opcodesRow(const Listed& l, Form form) {
    const Command& c = l.command;
    const bool before_140 = form == Form::Before140;  // in capitals here: either case is read
    const std::string op = " " + hex(c.op, 2, before_140);
    const std::string sa =
        c.sa < 0 ? "" : hex(static_cast<unsigned>(c.sa), before_140 ? 4 : 0, before_140);
    std::string row = form == Form::Compact
                          ? op + (c.sa < 0 ? " " : ",") + sa + std::string(4 - sa.size(), ' ')
                          : op + "     " + rightAligned(sa, 4) + "       " + rightAligned("16", 3);
    row += c.timeouts ? timeoutColumn(c.nominal, 10) + timeoutColumn(c.recommended, 11)
                      : std::string(21, ' ');
    return row + "    " + l.name + "\n";
}

// The compact form with a byte-order mark, as an editor may save a pasted table.
std::string opcodesTable(Form form) {
    std::string out =
        form == Form::Compact
            ? "\xEF\xBB\xBFOpcode,sa  Nominal  Recommended  Name\n" + std::string(56, '-') + "\n"
            : "  IBM       ULT3580-TD8       MB28\r\n  Peripheral device type: tape\n\n"
              "Opcode  Service    CDB   Nominal  Recommended  Name\n"
              "(hex)   action(h)  size  timeout  timeout(sec)     \n" +
                  std::string(64, '-') + "\n";
    for (const Listed& l : listed) {
        out += opcodesRow(l, form);
    }
    return out + "\n";
}

Bytes rawReport() {
    Bytes body;
    for (const Listed& l : listed) {
        body += cmd(l.command);
    }
    return report(body);
}

TEST(DriveReport, TheTableAsksWhatTheRawCaptureAsks) {
    const tool::DriveReport raw = parse(rawReport());
    ASSERT_FALSE(raw.malformed) << raw.reason;
    ASSERT_EQ(raw.asks[0x2B].seconds, 600u);
    ASSERT_EQ(raw.asks[0xA3].seconds, 90u);
    for (const Form form : {Form::Default, Form::Compact, Form::Before140}) {
        const std::string text = opcodesTable(form);
        const tool::DriveReport r = parse(text);
        ASSERT_FALSE(r.malformed) << r.reason << "\n" << text;
        EXPECT_EQ(r.with_timeouts, raw.with_timeouts);
        for (int code = 0; code < 256; ++code) {
            const tool::DriveAsk& a = r.asks[code];
            const tool::DriveAsk& b = raw.asks[code];
            EXPECT_TRUE(a.present == b.present && a.seconds == b.seconds &&
                        a.recommended == b.recommended && a.nominal == b.nominal)
                << code << ":\n"
                << text;
        }
    }
}

// Text of neither form, and tables that hold no timeouts: refused with where and what.
TEST(DriveReport, TextsRefused) {
    const std::string header =
        "Opcode  Service    CDB   Nominal  Recommended  Name\n" + std::string(64, '-') + "\n";
    const std::string prefix = " 00" + std::string(18, ' ') + "6";  // no service action, CDB 6
    const std::string row =
        prefix + std::string(9, ' ') + "-" + std::string(10, ' ') + "-    Test\n";
    const struct {
        std::string text;
        const char* reason;
    } rows[] = {
        {"Tape drive notes\n", "line 1: expected the header"},
        {"  IBM  ULT3580\n  IBM  ULT3580\n", "line 2: expected the header"},
        {"\nOpcode  Service    CDB    Name\n", "line 2: expected the timeout columns"},
        {"Opcode,sa  Name\n", "capture it again with sg_opcodes --rctd --raw"},
        {"Opcode  Service    CDB   Nominal  Recommended  Name\n\n",
         "line 2: expected the header's"},
        {"Opcode  Service    CDB   Nominal  Recommended  Name\n", "line 2: the text ends"},
        {"Opcode,sa  Nominal  Recommended  Name\n(hex)\n(hex)\n", "line 3: expected the dashes"},
        {header + row + " 0g" + row.substr(3), "line 4: expected a row"},
        {header + " 00,0      -          -    Compact\n", "line 3: expected a row"},
        {header + " 00    c" + row.substr(8), "line 3: expected a row"},
        {header + prefix + "        1x          -    Test\n", "line 3: expected a row"},
        {header + row + prefix + "  4294967296          -    Test\n", "line 4: expected a row"},
        {header + row + "\n$ \n", "line 5: expected a row"},
        {header, "no command in it has a timeouts descriptor"},
        {header + prefix + std::string(25, ' ') + "Inquiry\n",
         "again with sg_opcodes --rctd --raw"},
    };
    for (const auto& r : rows) {
        const tool::DriveReport d = parse(r.text);
        EXPECT_TRUE(d.malformed) << r.text;
        EXPECT_NE(d.reason.find(r.reason), std::string::npos) << d.reason << "\n" << r.text;
    }
}

// ---- What advise makes of them ----------------------------------------------------------------

// advise on the stand-in's in-memory registry (the test main gives it no file).
class AdviseOnReports : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = ::testing::TempDir() + "drive_report_XXXXXX";
        ASSERT_NE(::mkdtemp(dir_.data()), nullptr);
        st::reset();
        installProbe();
    }
    void TearDown() override {
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
    static Outcome advise(const std::string& path, const char* view = "--json") {
        return runToolFor({"advise", view, "--drive-report", path}, tool::ReadBack::SameProcess);
    }
    std::string dir_;
    std::vector<std::string> files_;
};

TEST_F(AdviseOnReports, TheTableProposesWhatTheRawCaptureProposes) {
    const std::string path = file("drive", rawReport());
    const Outcome raw = advise(path);
    EXPECT_EQ(raw.status, 1) << raw.err;
    EXPECT_NE(raw.out.find("\"CDB_93\""), std::string::npos) << raw.out;
    for (const Form form : {Form::Default, Form::Compact, Form::Before140}) {
        file("drive", opcodesTable(form));  // the same name: the views cite it
        const Outcome text = advise(path);
        EXPECT_EQ(text.status, raw.status) << text.err;
        EXPECT_EQ(text.out, raw.out);
    }
}

// A report that asks nothing because it holds no timeouts is no success; one that is too large is
// refused whatever its first MiB holds.
TEST_F(AdviseOnReports, RefusedWithoutTimeoutsOrAboveOneMiB) {
    const struct {
        const char* name;
        Bytes content;
        int status;
        const char* err;
    } rows[] = {
        {"plain.rsoc", report(cmd({0x12, 0, 0, false}) + cmd({0xA3, 0, 0, false, 0x0C})), 2,
         "/plain.rsoc\": byte 0: malformed drive report: no command in it has a timeouts "
         "descriptor: it was captured without --rctd, or the drive reports no timeouts; capture it "
         "again with sg_opcodes --rctd --raw /dev/sgN > FILE; nothing applied\n"},
        {"some.rsoc", report(cmd({0x12, 0, 0, false}) + cmd({0x93, 0, 9000})), 1, ""},
        {"plain.txt", "Opcode  Service    CDB    Name\n", 2,
         "/plain.txt\": malformed drive report: line 1: expected the "
         "timeout columns: this table was printed without --rctd; capture it again with "
         "sg_opcodes --rctd --raw"},
        {"large.rsoc", overOneMiB(), 2, "larger than 1 MiB: not a drive's report"},
    };
    for (const auto& row : rows) {
        const Outcome r = advise(file(row.name, row.content), "--apply");
        EXPECT_EQ(r.status, row.status) << row.name << ": " << r.err;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }
}

}  // namespace
