// scsi-timeouts: what it says about a stored text, its exit status, and that it never writes.
// The agreement of its report with the library's own load is checked across processes by
// admin_tool_agreement.py.
#include <gtest/gtest.h>

#include <QrPlatformInfo.h>
#include <scsi_timeouts_tool.h>

#include <string>
#include <vector>

#include "store_helpers.h"

namespace {

namespace tool = scsi_timeouts_tool;

int run(std::vector<std::string> args) {
    args.insert(args.begin(), "scsi-timeouts");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    ::testing::internal::CaptureStdout();
    const int status = tool::runTool(static_cast<int>(argv.size()), argv.data());
    ::testing::internal::GetCapturedStdout();
    return status;
}

// Why a value of INQUIRY (default 60) is what it is, and what the library does not say.
struct Explained {
    const char* text;
    const char* reason;  // nullptr: clean
    unsigned warnings;
};

const Explained explained[] = {
    {"60", nullptr, 0},
    {"*60*", nullptr, 0},
    {"", "empty", 0},
    {"0", "below the minimum", 0},
    {"100000", "above the maximum", 0},
    {"*1800*", "stale marker", 0},
    {"*60", "unclosed marker", 0},
    {"soon", "not a number", 0},
    {"   ", "not a number", 0},
    {"60abc", "number followed by other text", 0},
    {"1 800", nullptr, tool::DigitsAfterSpace},
    {"1\t800", nullptr, tool::DigitsAfterSpace},
    {"60 seconds", nullptr, 0},
    {"1,800", "number followed by other text", tool::GroupingOrDecimal},
    {"1.5", "number followed by other text", tool::GroupingOrDecimal},
    {"1e2", "number followed by other text", tool::Exponent},
    {"1E+2", "number followed by other text", tool::Exponent},
    {"0x1e2", nullptr, 0},
};

TEST(AdminTool, ExplainsEveryStoredText) {
    for (const Explained& row : explained) {
        st::reset();
        installProbe();
        st::seed("ScsiTimeouts", "INQUIRY", row.text);
        static tool::RegistryReport report;
        {
            QrPlatformInfo info;
            tool::readRegistry(info, report);
        }
        const tool::ValueReport& v = tool::sourceValue(report, 0x12);
        ASSERT_STREQ(v.name, "INQUIRY");
        const char* reason = tool::reasonText(v.decision.verdict);
        EXPECT_EQ(std::string(reason ? reason : "clean"), row.reason ? row.reason : "clean")
            << row.text;
        EXPECT_EQ(v.warnings, row.warnings) << row.text;
        EXPECT_EQ(v.repaired, row.reason != nullptr) << row.text;
    }
}

struct Status {
    const char* label;
    std::vector<std::string> args;
    const char* name;  // one value over a registry of current markers; nullptr: none
    const char* text;
    bool probe;
    int status;
};

const Status statuses[] = {
    {"CleanCheck", {"check"}, nullptr, nullptr, true, 0},
    {"CleanShowJson", {"show", "--json", "0x12", "022", "18"}, nullptr, nullptr, true, 0},
    {"Repair", {"check", "--json"}, "INQUIRY", "*1800*", true, 1},
    {"SpaceInNumber", {"check"}, "INQUIRY", "1 800", false, 1},
    {"EmptyWithoutInstallEntry", {"check"}, "INQUIRY", "", false, 0},
    {"ZeroWithoutInstallEntry", {"check"}, "INQUIRY", "0", false, 1},
    {"PerCodeValue", {"check"}, "CDB_05", "30", true, 0},
    {"PerCodeZeroStays", {"check"}, "CDB_05", "0", true, 1},
    {"PerCodeMarkerUnusable", {"show"}, "CDB_05", "*30*", true, 1},
    {"Help", {"--help"}, nullptr, nullptr, true, 0},
    {"CommandHelp", {"check", "--help"}, "INQUIRY", "*1800*", true, 0},
    {"NoCommand", {}, nullptr, nullptr, true, 2},
    {"UnknownCommand", {"list"}, nullptr, nullptr, true, 2},
    {"UnknownOption", {"check", "--yaml"}, nullptr, nullptr, true, 2},
    {"OpcodeTooLarge", {"show", "0x100"}, nullptr, nullptr, true, 2},
    {"NegativeOpcode", {"show", "-1"}, nullptr, nullptr, true, 2},
    {"WordAsOpcode", {"show", "foo"}, nullptr, nullptr, true, 2},
    {"OpcodeWithSpace", {"show", " 1"}, nullptr, nullptr, true, 2},
    {"CheckWithOpcode", {"check", "1"}, nullptr, nullptr, true, 2},
};

class ExitStatus : public ::testing::TestWithParam<Status> {};

// Exit status, and never a write, whatever there is to repair.
TEST_P(ExitStatus, AndNoWrite) {
    const Status& s = GetParam();
    st::reset();
    st::seed("ScsiTimeouts", "DEFAULT", "*120*");
    for (int i = 0; i < qr_scsi_timeouts::named_count; ++i) {
        const auto& row = qr_scsi_timeouts::default_timeout_arr[i];
        st::seed("ScsiTimeouts", row.name, "*" + std::to_string(row.timeout) + "*");
    }
    if (s.name != nullptr) {
        st::seed("ScsiTimeouts", s.name, s.text);
    }
    if (s.probe) {
        installProbe();
    }
    EXPECT_EQ(run(s.args), s.status);
    EXPECT_EQ(writes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Tool, ExitStatus, ::testing::ValuesIn(statuses),
                         [](const ::testing::TestParamInfo<Status>& info) {
                             return std::string(info.param.label);
                         });

TEST(AdminTool, StoreFailureIsAUsageStatusAndEveryCommandOnlyReads) {
    st::reset();
    st::failConstruction(1);
    EXPECT_EQ(run({"show"}), 2);
    st::failStoreCall(40);
    EXPECT_EQ(run({"check"}), 2);

    st::reset();
    installProbe();
    st::seed("ScsiTimeouts", "REWIND", "100000");
    for (const char* command : {"show", "check"}) {
        EXPECT_EQ(run({command, "--json"}), 1);
        EXPECT_EQ(run({command}), 1);
    }
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(st::value("ScsiTimeouts", "REWIND"), "100000");
}

}  // namespace
