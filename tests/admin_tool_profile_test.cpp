// scsi-timeouts' profiles: the parser's rows (every error with its line), apply's changes, the
// round trip from export to apply, and that a second apply leaves the store file untouched.
#include <gtest/gtest.h>

#include <QrPlatformInfo.h>
#include <fcntl.h>
#include <profile/changes.h>
#include <profile/in_force.h>
#include <profile/profile.h>
#include <scsi_timeouts_tool.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "store_helpers.h"
#include "tool_run.h"

namespace {

namespace tool = scsi_timeouts_tool;

Outcome runTool(std::vector<std::string> args) {
    return runToolFor(std::move(args), tool::ReadBack::SameProcess);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A scratch folder for profiles and store files.
class Scratch {
  public:
    Scratch() : dir_(::testing::TempDir() + "profile_XXXXXX") {
        if (::mkdtemp(dir_.data()) == nullptr) {
            ADD_FAILURE() << "no scratch folder";
        }
    }
    ~Scratch() {
        for (const std::string& f : files_) {
            ::unlink(f.c_str());
        }
        ::rmdir(dir_.c_str());
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    Scratch(Scratch&&) = delete;
    Scratch& operator=(Scratch&&) = delete;
    // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): a file's name, then what it holds
    std::string file(const std::string& name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        files_.push_back(path);
        return path;
    }

  private:
    std::string dir_;
    std::vector<std::string> files_;
};

struct ParseRow {
    const char* label;
    std::string text;
    std::vector<std::string> entries;  // "NAME=seconds" or "NAME=default", in file order
    std::vector<std::string> errors;   // "p:LINE: fragment" or "p: fragment"
};

std::string describe(const tool::ProfileEntry& e) {
    return std::string(e.name.value) + "=" +
           (e.to_default ? std::string("default") : std::to_string(e.seconds));
}

// clang-format off
const ParseRow parse_rows[] = {
    {"IssueExample", "# backup hosts\nREAD ATTRIBUTE = 11m\nLOAD = 2h12m\nDEFAULT = 2m\nCDB_93 = default\n",
     {"CDB_8C=660", "LOAD=7920", "DEFAULT=120", "CDB_93=default"}, {}},
    {"CrlfCommentsBlanks", "\xEF\xBB\xBFLOAD = 15m   # after the value\r\n\r\n   # indented\r\n0x05=90s\r\nrewind = DEFAULT",
     {"LOAD=900", "CDB_05=90", "REWIND=default"}, {}},
    {"SameValueTwice", "LOAD = 15m\n0x1B = 900\n", {"LOAD=900"}, {}},
    {"PerCodeOfNamedToDefault", "CDB_01 = default\n", {"CDB_01=default"}, {}},
    {"PerCodeOfNamedSet", "CDB_01 = 5m\n", {}, {"p:1: CDB_01"}},
    {"UnknownNameWithMatches", "LOAD = 1h\nREAD ATRIBUTE = 11m\n", {"LOAD=3600"},
     {"p:2: unknown name \"READ ATRIBUTE\"; close matches: READ ATTRIBUTE"}},
    {"BadDuration", "\nLOAD = 1h 30m\n", {}, {"p:2: not a DURATION or default: \"1h 30m\": white space"}},
    {"Zero", "LOAD = 0\n", {}, {"p:1: not a DURATION or default: \"0\""}},
    {"NoEquals", "LOAD 15m\n", {}, {"p:1: not NAME = VALUE: \"LOAD 15m\""}},
    {"EmptyValue", "LOAD =\n", {}, {"p:1: not a DURATION or default: \"\""}},
    {"TwoValues", "LOAD = 15m\nDEFAULT = 2m\nload = 16m\n", {"LOAD=900", "DEFAULT=120"},
     {"p:3: LOAD is given two values: 15m on line 1, 16m on line 3"}},
    {"EveryErrorReported", "x\nREWND = 1h\nLOAD = soon\nLOAD = 1h\nbad = bad\n", {"LOAD=3600"},
     {"p:1: not NAME", "p:2: unknown name", "p:3: not a DURATION", "p:5: unknown name", "p:5: not a DURATION"}},
    {"TooBig", std::string(tool::profile_size_limit + 1, '#'), {}, {"p: larger than 1 MiB"}},
    {"LimitIsText", std::string(tool::profile_size_limit, '#'), {}, {}},
    {"NulByte", std::string("LOAD = 1h\n\0\n", 12), {}, {"p: not a text file"}},
    {"NotUtf8", "# caf\xE9\nLOAD = 1h\n", {}, {"p: not a text file"}},
    {"Json", "{\"values\": {\"READ ATTRIBUTE\": \"11m\", \"LOAD\": 7920, \"CDB_93\": \"default\"}}",
     {"CDB_8C=660", "LOAD=7920", "CDB_93=default"}, {}},
    {"JsonSkippedIgnored", "  \n{\"values\": {}, \"skipped\": [{\"name\": \"LOAD\", \"stored\": [255]}]}", {}, {}},
    {"JsonErrorsByLine", "{\"values\": {\n \"LOAD\": \"1h\",\n \"REWND\": 5,\n \"ERASE\": true,\n \"SPACE\": 1.5,\n"
                         " \"INQUIRY\": -5,\n \"REWIND\": {\"a\": 1},\n \"0x1B\": 60}}",
     {"LOAD=3600"},
     {"p:3: unknown name \"REWND\"", "p:4: \"ERASE\": true or false is not", "p:5: \"SPACE\": not whole seconds: 1.5",
      "p:6: not a DURATION or default: \"-5\"", "p:7: \"REWIND\": an object", "p:8: LOAD is given two values: 1h on line 2, 1m on line 8"}},
    {"JsonUnknownKey", "{\n\"value\": {\"LOAD\": \"1h\"}}", {}, {"p:2: unknown key \"value\""}},
    {"JsonNotAnObject", "{\"values\": [1]}", {}, {"p:1: a JSON profile is"}},
    {"JsonSyntax", "{\"values\": {\n\"LOAD\": \"1h\",\n}}", {"LOAD=3600"}, {"p:3: not valid JSON: syntax error"}},
};
// clang-format on

class ProfileParser : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ProfileParser, EntriesAndEveryErrorWithItsLine) {
    const ParseRow& row = GetParam();
    const tool::Profile p = tool::parseProfile(row.text, "p");
    std::vector<std::string> entries;
    for (const tool::ProfileEntry& e : p.entries) {
        entries.push_back(describe(e));
    }
    EXPECT_EQ(entries, row.entries);
    ASSERT_EQ(p.errors.size(), row.errors.size());
    for (std::size_t i = 0; i < row.errors.size(); ++i) {
        const std::string line = tool::errorLine(p.errors[i]);
        EXPECT_EQ(line.rfind(row.errors[i], 0), 0u) << line << "\nexpected: " << row.errors[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Profile, ProfileParser, ::testing::ValuesIn(parse_rows),
                         [](const ::testing::TestParamInfo<ParseRow>& info) {
                             return std::string(info.param.label);
                         });

struct PlanRow {
    const char* label;
    std::vector<std::pair<const char*, const char*>> stored;
    const char* profile;
    bool exclusive;
    std::vector<std::string> changes;  // "NAME: before -> after", in order
    int unchanged;
};

// clang-format off
const PlanRow plan_rows[] = {
    {"HexAgreesWithUnits", {{"REWIND", "0x384"}}, "REWIND = 15m", false, {}, 1},
    {"AbsentIsNotTheDefaultsSeconds", {}, "REWIND = 30m", false, {"REWIND: absent -> 1800"}, 0},
    {"MarkerIsNotTheDefaultsSeconds", {{"REWIND", "*1800*"}}, "REWIND = 30m", false, {"REWIND: default -> 1800"}, 0},
    {"MarkerAndAbsentAreDefault", {{"REWIND", "*1800*"}, {"CDB_92", ""}}, "REWIND = default\nCDB_92 = default\nLOAD = default", false, {}, 3},
    {"StaleMarkerIsNotDefault", {{"REWIND", "*900*"}}, "REWIND = default", false, {"REWIND: \"*900*\" -> default"}, 0},
    {"PerCodeUsedAsRead", {{"CDB_92", "60abc"}}, "CDB_92 = 1m", false, {}, 1},
    {"NamedTrailingTextIsNotInForce", {{"REWIND", "60abc"}}, "REWIND = 1m", false, {"REWIND: \"60abc\" -> 60"}, 0},
    {"OutOfRange", {{"ERASE", "100000"}}, "ERASE = 1d", false, {"ERASE: \"100000\" -> 86400"}, 0},
    {"OrderIsLoadOrder", {}, "LOAD = 1h\nCDB_05 = 1m\nDEFAULT = 5m\nCDB_04 = 2m", false,
     {"DEFAULT: absent -> 300", "CDB_04: absent -> 120", "CDB_05: absent -> 60", "LOAD: absent -> 3600"}, 0},
    {"ExclusiveResetsTheRest", {{"REWIND", "900"}, {"CDB_92", "60"}, {"INQUIRY", "*60*"}, {"CDB_01", "30"}, {"LOAD", "3600"}},
     "LOAD = 1h", true, {"CDB_01: \"30\" -> default", "CDB_92: 1m -> default", "REWIND: 15m -> default"}, 1},
    {"ExclusiveEmpty", {{"DEFAULT", "5"}, {"CDB_92", ""}}, "", true, {"DEFAULT: 5s -> default"}, 0},
};
// clang-format on

class ApplyPlan : public ::testing::TestWithParam<PlanRow> {};

TEST_P(ApplyPlan, ComparesByWhatTheLibraryReads) {
    const PlanRow& row = GetParam();
    st::reset();
    installProbe();
    for (const auto& [name, text] : row.stored) {
        st::seed("ScsiTimeouts", name, text);
    }
    const auto report = std::make_unique<tool::RegistryReport>();
    {
        QrPlatformInfo info;
        tool::readRegistry(info, *report);
    }
    const tool::Profile profile = tool::parseProfile(row.profile, "p");
    ASSERT_TRUE(profile.errors.empty());
    const tool::Plan plan = tool::planChanges(*report, profile, row.exclusive);
    std::vector<std::string> changes;
    for (const tool::Change& c : plan.changes) {
        changes.push_back(std::string(c.name.value) + ": " +
                          (c.value->found ? tool::profileText(*c.value) : "absent") + " -> " +
                          (c.to_default ? "default" : std::to_string(c.seconds)));
    }
    EXPECT_EQ(changes, row.changes);
    EXPECT_EQ(plan.unchanged, row.unchanged);
}

INSTANTIATE_TEST_SUITE_P(Profile, ApplyPlan, ::testing::ValuesIn(plan_rows),
                         [](const ::testing::TestParamInfo<PlanRow>& info) {
                             return std::string(info.param.label);
                         });

// export | apply --check - reports no change, in both forms; then applying a random profile
// leaves nothing for a second apply to do.
void roundTrip(Scratch& scratch, const std::string& what) {
    for (const bool json : {false, true}) {
        const Outcome exported = json ? runTool({"export", "--json"}) : runTool({"export"});
        ASSERT_EQ(exported.status, 0) << what << exported.err;
        const std::string path = scratch.file("exported", exported.out);
        const Outcome check = runTool({"apply", "--check", "--json", path});
        EXPECT_EQ(check.status, 0) << what << "\n" << exported.out << check.out << check.err;
        const auto j = nlohmann::json::parse(check.out);
        EXPECT_EQ(j["changes"].size(), 0u) << what << "\n" << exported.out << check.out;
        EXPECT_EQ(j["changed"], false);
    }
}

TEST(Profile, ExportThenCheckOnTheSampleRegistry) {
    Scratch scratch;
    const std::string store = scratch.file("registry.ini", readFile(QR_SAMPLE_REGISTRY));
    ::setenv("QRLIB_STAND_IN_FILE", store.c_str(), 1);
    roundTrip(scratch, "sample");
    const Outcome text = runTool({"export"});
    EXPECT_NE(text.out.find("REWIND = 15m  # 0x01 REWIND\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("# not exported: LOAD holds \"soon\" (not a number)\n"),
              std::string::npos);
    EXPECT_NE(text.err.find("warning: LOAD holds \"soon\""), std::string::npos) << text.err;
    ::unsetenv("QRLIB_STAND_IN_FILE");
    EXPECT_EQ(readFile(store), readFile(QR_SAMPLE_REGISTRY)) << "export and --check only read";
}

TEST(Profile, ExportThenCheckOnRandomRegistries) {
    const std::vector<std::string> texts = {
        "900", "0x384", "*60*", "*1800*", "*120*", "soon",     "",      "1 800", "60abc", "100000",
        "0",   "15m",   "0600", " 42",    "-5",    "\xFF\x01", "86400", "1",     "*7",    "7200 s"};
    std::vector<std::string> names = {"DEFAULT", "REWIND", "LOAD", "INQUIRY", "CDB_01", "CDB_1B"};
    for (int code = 0; code < 256; code += 17) {
        char name[8];
        std::snprintf(name, sizeof name, "CDB_%02X", static_cast<unsigned>(code));
        names.emplace_back(name);
    }
    // A new seed each run, named in every failure so that a failing run can be repeated.
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    Scratch scratch;
    for (int round = 0; round < 40; ++round) {
        st::reset();
        if (round % 2 == 0) {
            installProbe();
        }
        std::string what =
            "seed " + std::to_string(seed) + ", round " + std::to_string(round) + ":";
        for (const std::string& name : names) {
            if (random() % 3 != 0) {
                continue;
            }
            const std::string text = random() % 4 == 0 ? std::to_string(1 + random() % 86400)
                                                       : texts[random() % texts.size()];
            st::seed("ScsiTimeouts", name, text);
            what.append(" ").append(name).append("=").append(text);
        }
        roundTrip(scratch, what);
        // A random profile applied, then asked again: nothing left to change.
        std::string profile;
        for (const std::string& name : names) {
            if (random() % 3 == 0) {
                // A CDB_xx that a named value decides can only be cleared.
                const bool never_used =
                    tool::resolveName(name.c_str()).error == tool::NameError::NamedDecides;
                profile +=
                    name + " = " +
                    (never_used || random() % 3 == 0 ? "default"
                                                     : std::to_string(1 + random() % 86400)) +
                    "\n";
            }
        }
        const std::string path = scratch.file("random", profile);
        const Outcome applied = runTool({"apply", path});
        ASSERT_NE(applied.status, 2) << what << "\n" << profile << applied.err;
        const Outcome again = runTool({"apply", "--check", path});
        EXPECT_EQ(again.status, 0) << what << "\n" << profile << again.out;
    }
}

struct FileState {
    std::string bytes;
    timespec mtime;
};

FileState stateOf(const std::string& path) {
    struct stat s {};
    EXPECT_EQ(::stat(path.c_str(), &s), 0);
    return {readFile(path), s.st_mtim};
}

bool operator==(const FileState& a, const FileState& b) {
    return a.bytes == b.bytes && a.mtime.tv_sec == b.mtime.tv_sec &&
           a.mtime.tv_nsec == b.mtime.tv_nsec;
}

// The second apply of a profile writes nothing at all: the store file keeps its bytes and time.
TEST(Profile, SecondApplyLeavesTheStoreFileAlone) {
    Scratch scratch;
    const std::string store = scratch.file("registry.ini", readFile(QR_SAMPLE_REGISTRY));
    const std::string profile =
        scratch.file("p",
                     "READ ATTRIBUTE = 11m\nLOAD = 2h12m\nDEFAULT = 2m\nCDB_93 = default\n"
                     "REWIND = 900\n");
    ::setenv("QRLIB_STAND_IN_FILE", store.c_str(), 1);
    const FileState original = stateOf(store);
    const Outcome check = runTool({"apply", "--check", "--diff", profile});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, "store: the stand-in's file " + store +
                             "\n+DEFAULT = 2m\n+CDB_8C = 11m\n-LOAD = soon\n+LOAD = 2h12m\n"
                             "3 to change, 2 unchanged (check: nothing written)\n");
    EXPECT_TRUE(stateOf(store) == original) << "--check writes nothing";
    const Outcome first = runTool({"apply", profile});
    EXPECT_EQ(first.status, 1) << first.err;
    EXPECT_EQ(first.out, "store: the stand-in's file " + store +
                             "\nDEFAULT: absent -> 2m\nCDB_8C: absent -> 11m\nLOAD: \"soon\" -> "
                             "2h12m\n3 changed, 2 unchanged, 0 failed\n");
    const FileState applied = stateOf(store);
    ::usleep(20000);  // a write now would show in the time
    const Outcome second = runTool({"apply", "--json", profile});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(stateOf(store) == applied) << "the second apply wrote";
    const auto j = nlohmann::json::parse(second.out);
    EXPECT_EQ(j, nlohmann::json::parse(R"({"changed": false, "check": false, "changes": [],
        "unchanged": 5, "warnings": [], "errors": []})"));
    // An empty profile with --exclusive: back to the built-in defaults, nothing left exported.
    const Outcome reset = runTool({"apply", "--exclusive", scratch.file("empty", "")});
    EXPECT_EQ(reset.status, 1) << reset.err;
    const auto exported = nlohmann::json::parse(runTool({"export", "--json"}).out);
    for (const auto& [name, value] : exported["values"].items()) {
        EXPECT_EQ(value, "default") << name;
    }
    ::unsetenv("QRLIB_STAND_IN_FILE");
}

// The JSON view of a change, and of a refused profile: nothing written, every error listed.
TEST(Profile, ApplyJson) {
    Scratch scratch;
    st::reset();
    installProbe();
    st::seed("ScsiTimeouts", "LOAD", "so\xFFon");
    st::seed("ScsiTimeouts", "REWIND", "0x384");
    const std::string good = scratch.file("good", "{\"values\": {\"LOAD\": 60, \"0x01\": \"1h\"}}");
    const Outcome r = runTool({"apply", "--check", "--json", "--diff", good});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(nlohmann::json::parse(r.out), nlohmann::json::parse(R"({"changed": true,
        "check": true, "changes": [
          {"name": "REWIND", "opcodes": ["0x01"], "before": 900, "after": 3600},
          {"name": "LOAD", "opcodes": ["0x1B"], "before": [115, 111, 255, 111, 110], "after": 60}],
        "unchanged": 0, "warnings": [], "errors": [],
        "diff": {"before": "REWIND = 15m\nLOAD = so\\xFFon\n",
                 "after": "REWIND = 1h\nLOAD = 1m\n"}})"));
    const std::string bad = scratch.file("bad", "LOAD = 1h\nREWND = 5\n");
    const Outcome refused = runTool({"apply", "--json", bad});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(writes(), 0u);
    const auto j = nlohmann::json::parse(refused.out);
    ASSERT_EQ(j["errors"].size(), 1u);
    EXPECT_EQ(j["errors"][0]["file"], bad);
    EXPECT_EQ(j["errors"][0]["line"], 2);
    EXPECT_NE(refused.err.find(bad + ":2: unknown name \"REWND\""), std::string::npos);
}

// A write that does not stick stops apply there, naming what was applied and what was not.
TEST(Profile, StopsAtTheFirstValueThatDoesNotReadBack) {
    Scratch scratch;
    st::reset();
    installProbe();
    st::seed("ScsiTimeouts", "DEFAULT", "7");
    const std::string p = scratch.file("p", "LOAD = 1h\nREWIND = 1h\nDEFAULT = 2m\n");
    st::dropWrites();
    const Outcome r = runTool({"apply", p});
    st::dropWrites(false);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("apply stopped at DEFAULT: DEFAULT did not read back as written"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("; applied: none; not applied: DEFAULT, REWIND, LOAD"), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("0 changed, 0 unchanged, 3 failed"), std::string::npos) << r.out;
}

struct UsageRow {
    std::vector<std::string> args;
    const char* message;
};

TEST(Profile, UsageErrors) {
    const UsageRow rows[] = {
        {{"apply"}, "apply needs a PROFILE"},
        {{"apply", "a", "b"}, "apply takes one PROFILE: \"b\""},
        {{"apply", "--dry-run", "a"}, "apply takes no --dry-run: --check writes nothing"},
        {{"set", "--check", "REWIND", "1h"}, "set takes no --check, --diff or --exclusive"},
        {{"export", "--exclusive"}, "export takes no --check, --diff or --exclusive"},
        {{"export", "x"}, "export takes no operands: \"x\""},
        {{"apply", "/nonexistent/profile"}, "/nonexistent/profile: cannot read: No such file"},
    };
    for (const UsageRow& row : rows) {
        const Outcome r = runTool(row.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    }
}

// Standard input as the profile, and a store that fails: exit 2, said in the JSON too.
TEST(Profile, StandardInputAndAFailingStore) {
    Scratch scratch;
    st::reset();
    installProbe();
    const std::string p = scratch.file("p", "LOAD = 1h\nREWND = 1h\n");
    const int saved = ::dup(STDIN_FILENO);
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::dup2(fd, STDIN_FILENO), STDIN_FILENO);
    const Outcome r = runTool({"apply", "-"});
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    ::close(fd);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("scsi-timeouts: (standard input):2: unknown name \"REWND\""),
              std::string::npos)
        << r.err;

    const std::string good = scratch.file("good", "LOAD = 1h\n");
    for (const bool json : {false, true}) {
        st::failConstruction(1);
        const Outcome failed = json ? runTool({"apply", "--json", good}) : runTool({"apply", good});
        EXPECT_EQ(failed.status, 2);
        EXPECT_NE(failed.err.find("scsi-timeouts: the platform store failed"), std::string::npos);
        if (json) {
            const auto j = nlohmann::json::parse(failed.out);
            ASSERT_EQ(j["errors"].size(), 1u);
            EXPECT_EQ(j["errors"][0]["file"], nullptr);
            EXPECT_EQ(j["errors"][0]["line"], nullptr);
            EXPECT_EQ(
                j["errors"][0]["message"].get<std::string>().rfind("the platform store failed", 0),
                0u);
        } else {
            EXPECT_EQ(failed.out, "");
        }
    }
    st::failConstruction(1);
    EXPECT_EQ(runTool({"export"}).status, 2);
    EXPECT_EQ(writes(), 0u);
}

}  // namespace
