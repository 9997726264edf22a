// scsi-timeouts: what it says about a stored text, its exit status, and that it never writes.
// The agreement of its report with the library's own load is checked across processes by
// admin_tool_agreement.py.
#include <gtest/gtest.h>

#include <QrPlatformInfo.h>
#include <command_line.h>
#include <pwd.h>
#include <scsi_timeouts_tool.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "store_helpers.h"
#include "tool_run.h"

namespace {

namespace tool = scsi_timeouts_tool;

int runInto(std::ostream& out, std::ostream& err, std::vector<std::string> args,
            tool::ReadBack read_back = tool::ReadBack::SameProcess) {
    return runToolInto(out, err, std::move(args), read_back);
}

Outcome runWithOutput(std::vector<std::string> args,
                      tool::ReadBack read_back = tool::ReadBack::SameProcess) {
    return runToolFor(std::move(args), read_back);
}

int run(std::vector<std::string> args) {
    return runWithOutput(std::move(args)).status;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// Every named value holds its current marker, so only what a test seeds stands out.
void seedCurrentMarkers() {
    st::seed("ScsiTimeouts", "DEFAULT", "*120*");
    for (const auto& row : qr_scsi_timeouts::default_timeout_arr) {
        st::seed("ScsiTimeouts", row.name, "*" + std::to_string(row.timeout) + "*");
    }
}

// Why a value of INQUIRY (default 60) is what it is, and what the library does not say.
struct Explained {
    const char* text;    // nullptr: absent
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
    {"0x1e2", nullptr, tool::NotDecimal},
    {"074", nullptr, tool::NotDecimal},
    {" -074", "below the minimum", tool::NotDecimal},
    {nullptr, "absent", 0},
    {"*soon", "not a number", 0},
    {"*", "not a number", 0},
    {"**", "not a number", 0},
    {"100000 1", "above the maximum", tool::DigitsAfterSpace},
    {"30m", "number followed by other text", tool::UnitSuffix},
    {"15min", "number followed by other text", tool::UnitSuffix},
    {"1h30m", "number followed by other text", tool::UnitSuffix},
    {"90 s", nullptr, 0},
};

TEST(AdminTool, ExplainsEveryStoredText) {
    for (const Explained& row : explained) {
        st::reset();
        installProbe();
        if (row.text != nullptr) {
            st::seed("ScsiTimeouts", "INQUIRY", row.text);
        }
        static tool::RegistryReport report;
        {
            QrPlatformInfo info;
            tool::readRegistry(info, report);
        }
        const tool::ValueReport& v = tool::sourceValue(report, 0x12);
        ASSERT_STREQ(v.name, "INQUIRY");
        const char* reason = tool::reasonText(v.decision.verdict);
        EXPECT_EQ(std::string(reason ? reason : "clean"), row.reason ? row.reason : "clean")
            << (row.text ? row.text : "absent");
        EXPECT_EQ(v.warnings, row.warnings) << (row.text ? row.text : "absent");
        EXPECT_EQ(v.repaired, row.reason != nullptr) << (row.text ? row.text : "absent");
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
    {"CleanShowJson", {"show", "--json", "0x12", "inquiry", "7"}, nullptr, nullptr, true, 0},
    {"ShowByKernelName", {"show", "Lock/unlock cache(16)", "Seek(10)"}, nullptr, nullptr, true, 0},
    {"PerCodeOfANamedCommand", {"check"}, "CDB_01", "30", true, 1},
    {"EmptyPerCodeOfANamedCommand", {"check"}, "CDB_01", "", true, 0},
    {"OctalNumber", {"check"}, "REWIND", "0600", true, 1},
    {"HexNumberPerCode", {"check"}, "CDB_05", "0x1e", true, 1},
    {"ShowByNames",
     {"show", "LOCATE(16)", "cdb_9a", "DEFAULT", "Locate (10)"},
     nullptr,
     nullptr,
     true,
     0},
    {"EmptyPerCodeIsClean", {"check"}, "CDB_05", "", true, 0},
    {"MisspelledName", {"check"}, "Rewind", "600", true, 1},
    {"MisspelledPerCode", {"check"}, "cdb_92", "7200", true, 1},
    {"LowerCaseHexDigits", {"check"}, "CDB_9a", "7200", true, 1},
    {"OneDigitPerCode", {"check", "--json"}, "CDB_5", "30", true, 1},
    {"UnitOnANamedValue", {"check"}, "LOAD", "30m", false, 1},
    {"UnitOnAPerCodeValue", {"check"}, "CDB_05", "2h", true, 1},
    {"Repair", {"check", "--json"}, "INQUIRY", "*1800*", true, 1},
    {"SpaceInNumber", {"check"}, "INQUIRY", "1 800", false, 1},
    {"EmptyWithoutInstallEntry", {"check"}, "INQUIRY", "", false, 0},
    {"ZeroWithoutInstallEntry", {"check"}, "INQUIRY", "0", false, 1},
    {"PerCodeValue", {"check"}, "CDB_05", "30", true, 0},
    {"PerCodeZeroStays", {"check"}, "CDB_05", "0", true, 1},
    {"ShowIsAViewWhateverIsFound", {"show"}, "CDB_05", "*30*", true, 0},
    {"ShowJsonWithRepairs", {"show", "--json"}, "INQUIRY", "soon", true, 0},
    {"Help", {"--help"}, nullptr, nullptr, true, 0},
    {"ShortHelp", {"-h"}, nullptr, nullptr, true, 0},
    {"CommandHelp", {"check", "--help"}, "INQUIRY", "*1800*", true, 0},
    {"HelpBeforeCommand", {"-h", "show"}, nullptr, nullptr, true, 0},
    {"Version", {"--version"}, nullptr, nullptr, true, 0},
    {"OptionsBeforeCommand", {"--json", "show", "0x12"}, "INQUIRY", "soon", true, 0},
    {"OptionsBetweenOperands", {"show", "1", "--json", "2"}, nullptr, nullptr, true, 0},
    {"DashDashEndsOptions", {"show", "--", "0x12"}, nullptr, nullptr, true, 0},
    {"DashDashBeforeCommand", {"--json", "--", "check"}, "INQUIRY", "soon", true, 1},
    {"AbbreviatedOption", {"check", "--js"}, nullptr, nullptr, true, 0},
    // Usage errors: one line on stderr, exit 2.
    {"NoCommand", {}, nullptr, nullptr, true, 2},
    {"OnlyAnOption", {"--json"}, nullptr, nullptr, true, 2},
    {"UnknownCommand", {"list"}, nullptr, nullptr, true, 2},
    {"UnknownCommandWithHelp", {"list", "--help"}, nullptr, nullptr, true, 2},
    {"UnknownOption", {"check", "--yaml"}, nullptr, nullptr, true, 2},
    {"UnknownShortOption", {"-x", "check"}, nullptr, nullptr, true, 2},
    {"OptionWithValue", {"show", "--json=yes"}, nullptr, nullptr, true, 2},
    {"OptionAfterDashDash", {"show", "--", "--json"}, nullptr, nullptr, true, 2},
    {"OpcodeTooLarge", {"show", "0x100"}, nullptr, nullptr, true, 2},
    {"NegativeOpcode", {"show", "-1"}, nullptr, nullptr, true, 2},
    {"NegativeOpcodeAfterDashDash", {"show", "--", "-1"}, nullptr, nullptr, true, 2},
    {"WordAsOpcode", {"show", "foo"}, nullptr, nullptr, true, 2},
    {"OctalLooking", {"show", "0146"}, nullptr, nullptr, true, 2},
    {"TwoDigitsEitherBase", {"show", "92"}, nullptr, nullptr, true, 2},
    {"BareHexByte", {"show", "8c"}, nullptr, nullptr, true, 2},
    {"UnknownName", {"show", "locat"}, nullptr, nullptr, true, 2},
    {"AmbiguousName", {"show", "locate"}, nullptr, nullptr, true, 2},
    {"PerCodeWhereANamedValueWins", {"show", "CDB_12"}, nullptr, nullptr, true, 2},
    {"DryRunOnAView", {"check", "--dry-run"}, nullptr, nullptr, true, 2},
    {"JsonOnAWrite", {"set", "--json", "REWIND", "900"}, nullptr, nullptr, true, 2},
    {"SetWithoutDuration", {"set", "REWIND"}, nullptr, nullptr, true, 2},
    {"SetExtraOperand", {"set", "REWIND", "900", "1"}, nullptr, nullptr, true, 2},
    {"ResetWithoutName", {"reset"}, nullptr, nullptr, true, 2},
    {"ResetExtraOperand", {"reset", "REWIND", "900"}, nullptr, nullptr, true, 2},
    {"OpcodeWithLineBreak", {"show", "1\n2"}, nullptr, nullptr, true, 2},
    {"CheckWithOpcode", {"check", "1"}, nullptr, nullptr, true, 2},
    {"AdviseHelp", {"advise", "--help"}, nullptr, nullptr, true, 0},
    {"AdviseWithoutEvidence", {"advise", "--json"}, nullptr, nullptr, true, 2},
    {"ApplyOnAView", {"show", "--apply"}, nullptr, nullptr, true, 2},
    {"KernelLogWithoutFile", {"advise", "--kernel-log"}, nullptr, nullptr, true, 2},
};

class ExitStatus : public ::testing::TestWithParam<Status> {};

// Exit status, and never a write, whatever there is to repair. A usage error is one line on
// stderr and nothing else; anything else prints to stdout alone.
TEST_P(ExitStatus, AndNoWrite) {
    const Status& s = GetParam();
    st::reset();
    seedCurrentMarkers();
    if (s.name != nullptr) {
        st::seed("ScsiTimeouts", s.name, s.text);
    }
    if (s.probe) {
        installProbe();
    }
    const Outcome r = runWithOutput(s.args);
    EXPECT_EQ(r.status, s.status);
    EXPECT_EQ(writes(), 0u);
    if (s.status == 2) {
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(lines(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.back(), '\n');
        EXPECT_EQ(r.err.rfind("scsi-timeouts: ", 0), 0u) << r.err;
    } else {
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out, "");
    }
}

// set and reset over a registry of current markers and the install entry, with one value seeded.
enum class Fault { None, DropWrites, ThrowOnWrite, ThrowOnReadBack, StoreRefuses, ForkedEarly };

struct Write {
    const char* label;
    std::vector<std::string> args;
    const char* name;    // the value seeded and looked at afterwards
    const char* seeded;  // nullptr: absent
    int status;
    const char* after;  // nullptr: absent
    std::size_t writes;
    const char* out;  // the report after the store line; on failure, what the message says
    Fault fault = Fault::None;
};

// clang-format off
const Write writes_table[] = {
    {"SetByCommandName", {"set", "LOCATE(16)", "1h"}, "CDB_92", nullptr, 0, "3600", 1, "CDB_92: absent -> \"3600\": 120 s -> 3600 s"},
    {"SetByKernelName", {"set", "Lock/unlock cache(16)", "1h"}, "CDB_92", nullptr, 0, "3600", 1, "0x92 (the kernel's \"Lock/unlock cache(16)\") is LOCATE(16) on tape drives\nCDB_92: absent -> \"3600\": 120 s -> 3600 s"},
    {"SetTwoDigits", {"set", "92", "1h"}, "CDB_5C", nullptr, 2, nullptr, 0, "92: write 0x92 for the byte the kernel prints, or 0x5C for decimal 92"},
    {"SetBareHexByte", {"set", "8c", "1h"}, "CDB_8C", nullptr, 2, nullptr, 0, "\"8c\": write 0x8C for the byte the kernel prints"},
    {"SetC1ControlInName", {"set", "a\x9B[2J", "1h"}, "REWIND", "900", 2, "900", 0, "unknown name \"a\\x9B[2J\""},
    {"SetSpaceAdvice", {"set", "REWIND", "15 m"}, "REWIND", "900", 2, "900", 0, "the library reads \"15 m\" as 15; write 900 or 15m"},
    {"SetUnitAsOperand", {"set", "REWIND", "30", "m"}, "REWIND", "900", 2, "900", 0, "too many operands: \"m\"; did you mean 30m?"},
    {"SetNotSeenByANewProcess", {"set", "REWIND", "600"}, "REWIND", "900", 2, "600", 1, "did not read back as written: a new process reads \"900\"", Fault::ForkedEarly},
    {"SetRepairsATrap", {"set", "rewind", "900"}, "REWIND", "1 800", 0, "900", 1, "REWIND: \"1 800\" -> \"900\": 1 s -> 900 s"},
    {"SetUnits", {"set", "REWIND", "1h30m"}, "REWIND", "900", 0, "5400", 1, "REWIND: \"900\" -> \"5400\": 900 s -> 5400 s"},
    {"SetDecimalWithLeadingZero", {"set", "0x01", "0900"}, "REWIND", nullptr, 0, "900", 1, "REWIND: \"*1800*\" -> \"900\": 1800 s -> 900 s"},
    {"SetDefault", {"set", "default", "1d"}, "DEFAULT", "*120*", 0, "86400", 1, "DEFAULT: \"*120*\" -> \"86400\": 120 s -> 86400 s"},
    {"SetSameText", {"set", "REWIND", "15m"}, "REWIND", "900", 0, "900", 0, "REWIND: \"900\" already; nothing written"},
    {"SetDryRun", {"set", "--dry-run", "REWIND", "15m"}, "REWIND", "1 800", 0, "1 800", 0, "REWIND: \"1 800\" -> \"900\": 1 s -> 900 s (dry run: nothing written)"},
    {"SetSpaceInNumber", {"set", "REWIND", "1 800"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetWithTheReadBackOption", {"set", "REWIND", "15m", "--read-back"}, "REWIND", "900", 2, "900", 0, "unknown option \"--read-back\""},
    {"SetGrouping", {"set", "REWIND", "1,800"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetDecimalPoint", {"set", "REWIND", "1.5h"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetExponent", {"set", "REWIND", "1e3"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetSign", {"set", "REWIND", "+900"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetNegative", {"set", "REWIND", "-5"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetNegativeAfterDashDash", {"set", "REWIND", "--", "-5"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetZero", {"set", "REWIND", "0"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetAboveADay", {"set", "REWIND", "1d1s"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetNoNumber", {"set", "REWIND", "m"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetUnknownName", {"set", "REWND", "900"}, "REWIND", "900", 2, "900", 0, ""},
    {"SetPerCodeOfANamedCommand", {"set", "CDB_01", "900"}, "CDB_01", nullptr, 2, nullptr, 0, ""},
    {"SetWriteDoesNotStick", {"set", "REWIND", "600"}, "REWIND", "900", 2, "900", 1, "did not read back as written", Fault::DropWrites},
    {"SetStoreThrows", {"set", "REWIND", "600"}, "REWIND", "900", 2, "900", 1, "", Fault::ThrowOnWrite},
    {"SetReadBackThrows", {"set", "REWIND", "600"}, "REWIND", "900", 2, "600", 1, "REWIND was written (\"900\" -> \"600\"), but reading it back failed: the platform store failed", Fault::ThrowOnReadBack},
    {"SetStoreRefuses", {"set", "0x92", "600"}, "CDB_92", nullptr, 2, nullptr, 1, "the platform store refused to write CDB_92: stand-in store: cannot", Fault::StoreRefuses},
    {"ResetNamed", {"reset", "REWIND"}, "REWIND", "900", 0, "*1800*", 1, "REWIND: \"900\" -> \"*1800*\": 900 s -> 1800 s"},
    {"ResetNamedAlready", {"reset", "Rewind"}, "REWIND", "*1800*", 0, "*1800*", 0, "REWIND: \"*1800*\" already; nothing written"},
    {"ResetDefault", {"reset", "DEFAULT"}, "DEFAULT", "5", 0, "*120*", 1, "DEFAULT: \"5\" -> \"*120*\": 5 s -> 120 s"},
    {"ResetPerCode", {"reset", "0x92"}, "CDB_92", "3600", 0, "", 1, "CDB_92: \"3600\" -> \"\": 3600 s -> 120 s"},
    {"ResetPerCodeAbsent", {"reset", "cdb_92"}, "CDB_92", nullptr, 0, nullptr, 0, "CDB_92: absent already; nothing written"},
    {"ResetDryRun", {"reset", "--dry-run", "LOCATE16"}, "CDB_92", "3600", 0, "3600", 0, "CDB_92: \"3600\" -> \"\": 3600 s -> 120 s (dry run: nothing written)"},
    {"ResetDefaultDryRun", {"reset", "--dry-run", "DEFAULT"}, "DEFAULT", "5", 0, "5", 0, "DEFAULT: \"5\" -> \"*120*\": 5 s -> 120 s (dry run: nothing written)"},
    {"ResetPerCodeOfANamedCommand", {"reset", "CDB_01"}, "CDB_01", "30", 0, "", 1, "CDB_01: \"30\" -> \"\": 1800 s -> 1800 s"},
    {"ResetNotSeenByANewProcess", {"reset", "0x92"}, "CDB_92", "3600", 2, "", 1, "CDB_92 did not read back as written", Fault::ForkedEarly},
    {"ResetWriteDoesNotStick", {"reset", "REWIND"}, "REWIND", "900", 2, "900", 1, "", Fault::DropWrites},
};
// clang-format on

class WriteCommand : public ::testing::TestWithParam<Write> {};

// The one value changes as asked, or not at all; a write is read back, and what it leaves is
// clean for check.
TEST_P(WriteCommand, ChangesOneValueOrNone) {
    const Write& w = GetParam();
    st::reset();
    installProbe();
    seedCurrentMarkers();
    if (w.seeded != nullptr) {
        st::seed("ScsiTimeouts", w.name, w.seeded);
    }
    if (w.fault == Fault::DropWrites) {
        st::dropWrites();
    } else if (w.fault == Fault::ThrowOnWrite) {
        st::failStoreCall(1 + qr_scsi_timeouts::value_count + 1);  // probe, reads, the write
    } else if (w.fault == Fault::ThrowOnReadBack) {
        st::failStoreCall(1 + qr_scsi_timeouts::value_count + 1 + 1);  // the fresh object's probe
    }
    // A store file that reads as empty but cannot be saved: in a folder that does not exist.
    std::string folder = ::testing::TempDir() + "admin_tool_store_XXXXXX";
    if (w.fault == Fault::StoreRefuses) {
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        ::setenv("QRLIB_STAND_IN_FILE", (folder + "/missing/store.ini").c_str(), 1);
    }
    const Outcome r =
        runWithOutput(w.args, w.fault == Fault::ForkedEarly ? tool::ReadBack::ForkedEarly
                                                            : tool::ReadBack::SameProcess);
    if (w.fault == Fault::StoreRefuses) {
        ::unsetenv("QRLIB_STAND_IN_FILE");
        ::rmdir(folder.c_str());
    }
    EXPECT_EQ(r.status, w.status) << r.err;
    EXPECT_EQ(writes(), w.writes);
    for (const st::StoreCall& c : callsOf(st::StoreCall::Set, "ScsiTimeouts")) {
        EXPECT_EQ(c.name, w.name);
        EXPECT_EQ(c.size, qr_scsi_timeouts::value_size);  // as the library writes
    }
    const auto now = st::value("ScsiTimeouts", w.name);
    EXPECT_EQ(now.has_value(), w.after != nullptr);
    if (now && w.after != nullptr) {
        EXPECT_EQ(*now, w.after);
    }
    if (w.status == 0) {
        EXPECT_EQ(r.out, "store: " + tool::storeDescription() + "\n" + w.out + "\n");
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(w.out), std::string::npos) << r.err;
    }
    if (w.status == 0 && w.args[1] != "--dry-run") {
        const Outcome check = runWithOutput({"check"});
        EXPECT_EQ(check.status, 0) << check.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Tool, WriteCommand, ::testing::ValuesIn(writes_table),
                         [](const ::testing::TestParamInfo<Write>& info) {
                             return std::string(info.param.label);
                         });

// What check says about names the library never reads, and about a store that ignores case.
TEST(AdminTool, MisspelledNamesInJson) {
    st::reset();
    installProbe();
    seedCurrentMarkers();
    st::seed("ScsiTimeouts", "Rewind", "600");
    st::seed("ScsiTimeouts", "cdb_92", "\xE9");
    auto j = nlohmann::json::parse(runWithOutput({"check", "--json"}).out);
    EXPECT_EQ(j["misspelled"],
              nlohmann::json::parse(R"([{"name": "cdb_92", "stored": [233], "meant": "CDB_92"},
                                        {"name": "Rewind", "stored": "600", "meant": "REWIND"}])"));

    // A store that does not tell names apart by case gives the exact name's text for a variant.
    st::reset();
    installProbe();
    seedCurrentMarkers();
    st::seed("ScsiTimeouts", "REWIND", "600");
    st::seed("ScsiTimeouts", "Rewind", "600");
    st::seed("ScsiTimeouts", "rewind", "600");
    const Outcome clean = runWithOutput({"check", "--json"});
    EXPECT_EQ(clean.status, 0);
    EXPECT_TRUE(nlohmann::json::parse(clean.out)["misspelled"].empty());
    EXPECT_EQ(writes(), 0u);
}

// Where the options stand changes nothing.
TEST(AdminTool, ArgumentOrderGivesTheSameOutput) {
    st::reset();
    installProbe();
    st::seed("ScsiTimeouts", "INQUIRY", "1 800");
    const std::vector<std::vector<std::string>> same[] = {
        {{"show", "--json", "0x12", "1"},
         {"--json", "show", "0x12", "1"},
         {"show", "0x12", "--json", "1"},
         {"show", "0x12", "1", "--json"},
         {"show", "--json", "--", "0x12", "1"}},
        {{"check", "--json"}, {"--json", "check"}, {"--json", "--", "check"}},
        {{"show", "--help"}, {"--help", "show"}, {"show", "-h", "0x12"}},
    };
    for (const auto& forms : same) {
        const Outcome first = runWithOutput(forms[0]);
        ASSERT_NE(first.out, "");
        for (const auto& form : forms) {
            const Outcome r = runWithOutput(form);
            EXPECT_EQ(r.out, first.out) << form[0] << " " << form[1];
            EXPECT_EQ(r.status, first.status) << form[0] << " " << form[1];
        }
    }
    EXPECT_NE(runWithOutput({"show", "--help"}).out, runWithOutput({"check", "--help"}).out);
    EXPECT_NE(runWithOutput({"show", "--help"}).out, runWithOutput({"--help"}).out);
}

// The check view of a small registry, line by line: folded runs of absent per-code values,
// quoting of control characters and quotes, reasons, warnings, the summary line.
TEST(AdminTool, CheckTextView) {
    st::reset();
    installProbe();
    seedCurrentMarkers();
    st::seed("ScsiTimeouts", "CDB_05", "30");
    st::seed("ScsiTimeouts", "CDB_06", "a\tb\"c\\");
    st::seed("ScsiTimeouts", "INQUIRY", "1 800");
    st::seed("ScsiTimeouts", "MODE_SENSE", "1e3");
    st::seed("ScsiTimeouts", "REWIND", "soon");
    const Outcome r = runWithOutput({"check"});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> expected =
        lines("store: " + tool::storeDescription() + "\n" +
              R"(install entry vARURAROD under Base: present, the load repairs values
NAME                                     TIMEOUT  REPAIR     STORED, WHY, WARNINGS
DEFAULT                                      120  -          "*120*"
CDB_00 to CDB_04                               -  -          absent
CDB_05 READ BLOCK LIMITS                      30  -          "30"
CDB_06                                         -  -          "a\x09b\"c\\"  (not a number)  warning: gives no usable number: DEFAULT applies
CDB_07 to CDB_FF                               -  -          absent
INQUIRY                                        1  -          "1 800"  warning: white space ends the number: the digits after it are ignored
MODE_SENSE                                     1  *2940*     "1e3"  (number followed by other text)  warning: an exponent ends the number
REWIND                                      1800  *1800*     "soon"  (not a number)
)");
    const std::vector<std::string> got = lines(r.out);
    ASSERT_EQ(got.size(), expected.size() + 14 + 1) << r.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got[i], expected[i]) << "line " << i + 1;
    }
    EXPECT_EQ(got.back(), "274 values read; the next load repairs 2; 3 warnings");

    const Outcome show = runWithOutput({"show", "5", "0x12", "locate10", "0xff"});
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.out,
              R"(OPCODE  TIMEOUT  SOURCE                                   STORED      COMMAND
0x05         30  CDB_05                                   "30"        READ BLOCK LIMITS
0x12          1  INQUIRY                                  "1 800"     INQUIRY
0x2B        120  DEFAULT                                  "*120*"     LOCATE(10) / POSITION TO ELEMENT
0xFF        120  DEFAULT                                  "*120*"
)");

    // The longest stored text, every byte escaped, is shown whole, and the command after it.
    st::seed("ScsiTimeouts", "INQUIRY", std::string(qr_scsi_timeouts::value_size - 1, '\xE9'));
    std::string escaped;
    for (int i = 0; i < qr_scsi_timeouts::value_size - 1; ++i) {
        escaped += "\\xE9";
    }
    EXPECT_EQ(
        lines(runWithOutput({"show", "0x12"}).out).back(),
        "0x12         60  INQUIRY                                  \"" + escaped + "\"  INQUIRY");
}

// Stored bytes and whether they are well-formed UTF-8: a JSON string then, an array of the
// byte values otherwise.
struct StoredBytes {
    const char* label;
    std::string bytes;
    bool utf8;
};

const StoredBytes stored_bytes[] = {
    {"Ascii", "60", true},
    {"TwoByte", "\xC3\xA9ternel", true},
    {"ThreeByte", "\xE2\x82\xAC", true},
    {"FourByte", "\xF0\x9F\x92\xBE", true},
    {"HighestCodePoint", "\xF4\x8F\xBF\xBF", true},
    {"Latin1Byte", "\xE9ternel", false},
    {"LeadC0", "\xC0\x80", false},
    {"LeadC1", "\xC1\xBF", false},
    {"LeadF5", "\xF5\x80\x80\x80", false},
    {"LeadF8", "\xF8\x80\x80", false},
    {"LeadFC", "\xFC\x80\x80\x80\x80\x80", false},
    {"LeadFF", "\xFF", false},
    {"LoneContinuation", "\x80", false},
    {"TruncatedTwo", "\xC3", false},
    {"TruncatedThree", "\xE2\x82", false},
    {"TruncatedFour", "a\xF0\x9F\x92", false},
    {"OverlongThree", "\xE0\x80\xAF", false},
    {"OverlongFour", "\xF0\x80\x80\xAF", false},
    {"BeyondMaximum", "\xF4\x90\x80\x80", false},
    {"Surrogate", "\xED\xA0\x80", false},
    {"ControlCharacters", "\x01\t\x1F\x7F", true},
    {"QuotesAndBackslashes", "\"\\\"\\u0041", true},
};

class StoredBytesJson : public ::testing::TestWithParam<StoredBytes> {};

std::string decode(const nlohmann::json& stored) {
    if (stored.is_string()) {
        return stored.get<std::string>();
    }
    std::string bytes;
    for (const auto& b : stored) {
        const int value = b.get<int>();
        EXPECT_TRUE(value >= 1 && value <= 255) << value;
        bytes += static_cast<char>(value);
    }
    return bytes;
}

// check --json and show --json are valid JSON for any stored bytes, and give them back exactly.
TEST_P(StoredBytesJson, DecodesToTheStoredBytes) {
    const StoredBytes& row = GetParam();
    st::reset();
    st::seed("ScsiTimeouts", "INQUIRY", row.bytes);
    st::seed("ScsiTimeouts", "CDB_0A", row.bytes);
    const Outcome check = runWithOutput({"check", "--json"});
    const Outcome show = runWithOutput({"show", "--json", "0x12", "0x0a"});
    const auto check_json = nlohmann::json::parse(check.out);  // throws on invalid JSON
    const auto show_json = nlohmann::json::parse(show.out);
    int seen = 0;
    for (const auto& v : check_json["values"]) {
        if (v["name"] == "INQUIRY" || v["name"] == "CDB_0A") {
            EXPECT_EQ(v["stored"].is_string(), row.utf8) << v["name"];
            EXPECT_EQ(decode(v["stored"]), row.bytes) << v["name"];
            ++seen;
        } else {
            EXPECT_TRUE(v["stored"].is_null()) << v["name"];
        }
    }
    EXPECT_EQ(seen, 2);
    const auto& inquiry = show_json["table"][0];
    ASSERT_EQ(inquiry["source"], "INQUIRY");
    EXPECT_EQ(inquiry["stored"].is_string(), row.utf8);
    EXPECT_EQ(decode(inquiry["stored"]), row.bytes);
}

INSTANTIATE_TEST_SUITE_P(Tool, StoredBytesJson, ::testing::ValuesIn(stored_bytes),
                         [](const ::testing::TestParamInfo<StoredBytes>& info) {
                             return std::string(info.param.label);
                         });

// Two stored texts that differ never print the same.
TEST(AdminTool, StoredBytesNeverCollide) {
    std::vector<std::string> seen;
    for (const StoredBytes& row : stored_bytes) {
        st::reset();
        st::seed("ScsiTimeouts", "INQUIRY", row.bytes);
        const auto j = nlohmann::json::parse(runWithOutput({"show", "--json", "0x12"}).out);
        seen.push_back(j["table"][0]["stored"].dump());
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        for (std::size_t k = i + 1; k < seen.size(); ++k) {
            EXPECT_NE(seen[i], seen[k]) << stored_bytes[i].label << " " << stored_bytes[k].label;
        }
    }
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
    const Outcome r = runWithOutput({"check"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;

    st::reset();
    installProbe();
    st::seed("ScsiTimeouts", "REWIND", "100000");
    EXPECT_EQ(run({"show", "--json"}), 0);
    EXPECT_EQ(run({"show"}), 0);
    EXPECT_EQ(run({"check", "--json"}), 1);
    EXPECT_EQ(run({"check"}), 1);
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(st::value("ScsiTimeouts", "REWIND"), "100000");
}

// Whatever a store throws, the command fails with one line and exit 2.
TEST(AdminTool, AnyStoreFailureIsOneLine) {
    const struct {
        std::function<void()> action;
        const char* err;
    } rows[] = {
        {[] { throw std::runtime_error("disk\nfull\r"); },
         "scsi-timeouts: the platform store failed: disk full \n"},
        {[] { throw 42; }, "scsi-timeouts: the platform store failed: unknown exception\n"},
    };
    for (const auto& row : rows) {
        std::ostringstream err;
        int status = 0;
        EXPECT_FALSE(tool::withStore(err, status, row.action));
        EXPECT_EQ(status, 2);
        EXPECT_EQ(err.str(), row.err);
    }
}

// A report that cannot be written is no success, and the message names the cause: here a pipe
// that nobody reads. After set, it says that the value was written all the same.
TEST(AdminTool, AReportThatCannotBeWrittenIsExit2) {
    const struct {
        std::vector<std::string> args;
        bool pipe;
        const char* err;
    } rows[] = {
        {{"check"}, false, "scsi-timeouts: write error on standard output\n"},
        {{"--help"}, true, "scsi-timeouts: write error on standard output: Broken pipe\n"},
        {{"show"},
         true,
         "scsi-timeouts: write error on standard output: Broken pipe\n"},  // > 4 KiB
        {{"set", "REWIND", "10m"},
         true,
         "scsi-timeouts: write error on standard output: Broken pipe; REWIND was written "
         "(\"*1800*\" -> \"600\")\n"},
    };
    const auto ignored = std::signal(SIGPIPE, SIG_IGN);
    for (const auto& row : rows) {
        st::reset();
        installProbe();
        seedCurrentMarkers();
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ::close(fds[0]);  // nobody reads
        {
            tool::FdOutput broken(fds[1]);
            std::ostream out(row.pipe ? &broken : nullptr);  // without a buffer, every write fails
            std::ostringstream err;
            EXPECT_EQ(runInto(out, err, row.args), 2) << row.args[0];
            EXPECT_EQ(err.str(), row.err) << row.args[0];
        }
        ::close(fds[1]);
    }
    std::signal(SIGPIPE, ignored);
    EXPECT_EQ(st::value("ScsiTimeouts", "REWIND"), "600");
}

// One audit message per value changed, whichever command changed it; none for what only reads,
// only plans or changes nothing. The test binary's main points the log at a scratch file.
TEST(AdminTool, AuditLogHasOneMessagePerChangedValue) {
    struct Row {
        std::vector<std::pair<const char*, const char*>> stored;
        std::vector<std::string> args;  // PROFILE and LOG: the scratch files
        std::vector<std::string> messages;
        const char* sudo_user = nullptr;
        Fault fault = Fault::None;
    };
    // clang-format off
    const Row rows[] = {
        {{{"REWIND", "900"}}, {"set", "REWIND", "1h"}, {"REWIND (0x01): 900 -> 3600 by % via set"}},
        {{{"REWIND", "900"}}, {"set", "rewind", "15m"}, {}},
        {{{"REWIND", "900"}}, {"set", "--dry-run", "REWIND", "1h"}, {}},
        {{}, {"set", "LOCATE(16)", "1h"}, {"CDB_92 (0x92): default -> 3600 by % via set"}},
        {{{"DEFAULT", "5"}}, {"reset", "DEFAULT"}, {"DEFAULT: 5 -> default by % via reset"}},
        {{{"LOAD", "so\x1Bon"}}, {"reset", "LOAD"}, {"LOAD (0x1B): \"so\\x1Bon\" -> default by % via reset"}},
        {{}, {"reset", "0x92"}, {}},
        {{{"REWIND", "900"}}, {"reset", "--dry-run", "REWIND"}, {}},
        {{{"REWIND", "soon"}}, {"check"}, {}},
        {{{"REWIND", "soon"}}, {"export"}, {}},
        {{{"LOAD", "soon"}, {"REWIND", "0x384"}}, {"apply", "PROFILE"},
         {"DEFAULT: default -> 120 by % via apply", "LOAD (0x1B): \"soon\" -> 7920 by % via apply"}},
        {{{"LOAD", "soon"}}, {"apply", "--check", "PROFILE"}, {}},
        {{{"LOAD", "7920"}, {"DEFAULT", "120"}, {"REWIND", "900"}}, {"apply", "PROFILE"}, {}},
        {{}, {"advise", "--kernel-log", "LOG", "--apply"}, {"CDB_8C (0x8C): default -> 660 by % via advise --apply"}},
        {{}, {"advise", "--kernel-log", "LOG", "--apply", "--dry-run"}, {}},
        {{{"REWIND", "900"}}, {"set", "REWIND", "1h"}, {"REWIND (0x01): 900 -> 3600 by %, sudo from al\\x0Aice) via set"}, "al\nice"},
        // Written, but not read back: the store took the write, so it is logged all the same.
        {{{"REWIND", "900"}}, {"set", "REWIND", "1h"}, {"REWIND (0x01): 900 -> 3600 by % via set"}, nullptr, Fault::DropWrites},
    };
    // clang-format on
    const passwd* user = ::getpwuid(::getuid());
    const std::string who = std::string(user != nullptr ? user->pw_name : "unknown user") +
                            " (uid " + std::to_string(::getuid());
    std::string dir = ::testing::TempDir() + "audit_XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string profile = dir + "/profile";
    const std::string log = dir + "/kern.log";
    std::ofstream(profile) << "LOAD = 2h12m\nDEFAULT = 2m\nREWIND = 15m\n";
    std::ofstream(log) << "[456431.184458] st 1:0:1:0: attempting task abort!scmd(0x8b10e4e8), "
                          "outstanding for 62233 ms & timeout 60000 ms\n"
                          "[456431.184486] st 1:0:1:0: tag#4695 CDB: Read attributes 8c\n";
    const char* audit = std::getenv("QR_SCSI_TIMEOUTS_AUDIT_FILE");
    ASSERT_NE(audit, nullptr);
    for (const Row& row : rows) {
        st::reset();
        installProbe();
        for (const auto& [name, text] : row.stored) {
            st::seed("ScsiTimeouts", name, text);
        }
        st::dropWrites(row.fault == Fault::DropWrites);
        std::vector<std::string> args = row.args;
        for (std::string& a : args) {
            a = a == "PROFILE" ? profile : a == "LOG" ? log : a;
        }
        std::ofstream(audit, std::ios::trunc).close();
        if (row.sudo_user != nullptr) {
            ::setenv("SUDO_USER", row.sudo_user, 1);
        }
        const Outcome r = runWithOutput(args);
        ::unsetenv("SUDO_USER");
        st::dropWrites(false);
        std::ifstream in(audit);
        const std::string logged((std::istreambuf_iterator<char>(in)), {});
        std::vector<std::string> expected;
        for (std::string m : row.messages) {
            m.replace(m.find('%'), 1, m.find(", sudo") != std::string::npos ? who : who + ")");
            expected.push_back(m);
        }
        EXPECT_EQ(lines(logged), expected) << args[0] << " " << args[1] << "\n" << r.err;
    }
    ::unlink(profile.c_str());
    ::unlink(log.c_str());
    ::rmdir(dir.c_str());
}

}  // namespace
