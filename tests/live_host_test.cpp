// advise on the running host, without the host: --since and timestamps in a fixed time zone,
// real journal files made here by systemd-journal-remote, devices answering through a transport
// that replays recorded answers, and a scratch sysfs tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <host_evidence.h>
#include <journal_time.h>
#include <scsi_device.h>
#include <scsi_timeouts_tool.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sysfs_devices.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#ifdef QR_TOOL_LIVE_HOST
#include <journal_source.h>
#include <sg_transport.h>
#endif

#include "fresh_process.h"
#include "store_helpers.h"
#include "tool_run.h"

namespace {

namespace tool = scsi_timeouts_tool;
constexpr uint64_t s = 1000000;      // a second in microseconds
constexpr uint64_t t0 = 1765338653;  // 2025-12-10T03:50:53Z

std::vector<std::string>& scratchFolders() {
    static std::vector<std::string> folders;
    return folders;
}

// Every scratch folder is removed once all tests have run.
class RemoveScratchFolders : public ::testing::Environment {
  public:
    void TearDown() override {
        for (const std::string& dir : scratchFolders()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
};
::testing::Environment* const remove_scratch_folders =
    ::testing::AddGlobalTestEnvironment(new RemoveScratchFolders);

std::string scratch(const std::string& name) {
    std::string dir = ::testing::TempDir() + "live_host_" + name + "_XXXXXX";
    EXPECT_NE(::mkdtemp(dir.data()), nullptr);
    scratchFolders().push_back(dir);
    return dir;
}

void write(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// ---- --since and the printed time -----------------------------------------------------------

class InZone : public ::testing::Test {
  protected:
    void SetUp() override { zone("UTC0"); }
    void TearDown() override { ::unsetenv("TZ"), ::tzset(); }
    static void zone(const char* tz) { ::setenv("TZ", tz, 1), ::tzset(); }
};

TEST_F(InZone, SinceTakesJournalctlForms) {
    const uint64_t now = t0 * s + 500000;
    const struct {
        const char* text;
        int64_t seconds;  // -1: refused
    } rows[] = {{"2025-12-10 03:50:53", t0},
                {"2025-12-10T03:50:53", t0},
                {"2025-12-10 03:50", t0 - 53},
                {"2025-12-10", t0 - 13853},
                {"today", t0 - 13853},
                {"yesterday", t0 - 13853 - 86400},
                {"-7d", t0 - 604800},
                {"-2h", t0 - 7200},
                {"-1h 30min", t0 - 5400},
                {"-90s", t0 - 90},
                {"-1w", t0 - 604800},
                {"2025-02-29", -1},
                {"2025-13-01", -1},
                {"2025-12-10 24:00", -1},
                {"-7x", -1},
                {"-", -1},
                {"", -1},
                {"2025-12-10 03:50:53 x", -1},
                {"10.12.2025", -1},
                {"-99999999999d", -1}};
    for (const auto& row : rows) {
        uint64_t usec = 0;
        std::string error;
        const bool ok = tool::parseSince(row.text, now, usec, error);
        EXPECT_EQ(ok, row.seconds >= 0) << row.text << ": " << error;
        if (ok && row.seconds >= 0) {
            const uint64_t fraction = row.text[0] == '-' ? 500000 : 0;
            EXPECT_EQ(usec, static_cast<uint64_t>(row.seconds) * s + fraction) << row.text;
        } else {
            EXPECT_FALSE(error.empty()) << row.text;
        }
    }
    uint64_t usec = 0;
    std::string error;
    EXPECT_TRUE(tool::parseSince("now", now, usec, error));
    EXPECT_EQ(usec, now);
    zone("XYZ-1");  // an hour east of UTC: the date is local time
    ASSERT_TRUE(tool::parseSince("2025-12-10 04:50:53", now, usec, error));
    EXPECT_EQ(usec, t0 * s);
}

TEST_F(InZone, TimestampsAreLocal) {
    EXPECT_EQ(tool::localTimestamp(t0 * s + 123), "2025-12-10T03:50:53.000123+00:00");
    zone("XYZ+5:30");
    EXPECT_EQ(tool::localTimestamp(t0 * s), "2025-12-09T22:20:53.000000-05:30");
}

// ---- Devices --------------------------------------------------------------------------------

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    unsigned v = 0;
    while (in >> std::hex >> v) {
        out.push_back(static_cast<unsigned char>(v));
    }
    return out;
}

// One command of a REPORT SUPPORTED OPERATION CODES answer, with its timeouts when `rec` >= 0.
std::string command(const char* op, long nominal, long rec) {
    char text[128];
    if (rec < 0) {
        std::snprintf(text, sizeof text, "%s 00 00 00 00 00 00 06 ", op);
    } else {
        std::snprintf(text, sizeof text,
                      "%s 00 00 00 00 02 00 06  00 0a 00 00 %02lx %02lx %02lx %02lx %02lx %02lx "
                      "%02lx %02lx ",
                      op, nominal >> 24, (nominal >> 16) & 255, (nominal >> 8) & 255, nominal & 255,
                      rec >> 24, (rec >> 16) & 255, (rec >> 8) & 255, rec & 255);
    }
    return text;
}

Bytes answer(const std::vector<std::string>& commands) {
    std::string body;
    for (const std::string& c : commands) {
        body += c;
    }
    Bytes out = hex(body);
    const auto n = static_cast<uint32_t>(out.size());
    out.insert(out.begin(),
               {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
    return out;
}

Bytes inquiry(int type, const char* vendor, const char* product, const char* rev) {
    char text[37];
    std::snprintf(text, sizeof text, "%-8s%-16s%-4s", vendor, product, rev);
    Bytes out(36, 0);
    out[0] = static_cast<unsigned char>(type);
    out[1] = 0x80;  // removable medium
    out[4] = 31;    // additional length
    std::copy(text, text + 28, out.begin() + 8);
    return out;
}

// A device that replays what a real one answered, one reply per request, by operation code.
struct Reply {
    tool::ScsiResult::Kind kind = tool::ScsiResult::Kind::Good;
    Bytes data;
    Bytes sense;
};
const Bytes illegal_opcode = hex("70 00 05 00 00 00 00 0a 00 00 00 00 20 00");
const Bytes illegal_field = hex("72 05 24 00 00 00 00 00");
const Bytes unit_attention = hex("70 00 06 00 00 00 00 0a 00 00 00 00 29 00");
Reply check(const Bytes& sense) {
    return {tool::ScsiResult::Kind::CheckCondition, {}, sense};
}

class Replay final : public tool::ScsiTransport {
  public:
    std::map<unsigned char, std::deque<Reply>> replies;
    std::string refuse;  // open()'s reason, when it fails
    std::vector<Bytes> sent;
    int opened = 0;
    bool open(const std::string& /*path*/, std::string& reason) override {
        ++opened;
        reason = refuse;
        return refuse.empty();
    }
    tool::ScsiResult send(const tool::ScsiRequest& request) override {
        sent.emplace_back(request.cdb.begin(), request.cdb.begin() + request.cdb_size);
        std::deque<Reply>& queue = replies[request.cdb[0]];
        EXPECT_FALSE(queue.empty()) << "no recorded reply for " << int{request.cdb[0]};
        tool::ScsiResult r;
        if (!queue.empty()) {
            const Reply reply = queue.front();
            queue.pop_front();
            r.kind = reply.kind;
            r.sense = reply.sense;
            r.received = std::min(reply.data.size(), request.size);
            std::copy_n(reply.data.begin(), r.received, request.data);
        }
        return r;
    }
    void close() override {}
};

// sys/class/scsi_generic/sgN -> devices/H:C:T:L with its type, and st0 and nst0 for sg1.
std::string scratchSysfs() {
    std::string sys = scratch("sys");
    const struct {
        const char* sg;
        const char* hctl;
        const char* type;  // nullptr: a folder where the file should be
    } nodes[] = {{"sg0", "0:0:0:0", "0\n"},   {"sg1", "1:0:1:0", "1\n"},  {"sg2", "1:0:2:0", "8\n"},
                 {"sg3", "2:0:0:0", nullptr}, {"sg10", "3:0:0:0", "1\n"}, {"sg4", "4:0:0:0", "x"}};
    for (const std::string dir :
         {"/class", "/class/scsi_generic", "/class/scsi_tape", "/devices"}) {
        ::mkdir((sys + dir).c_str(), 0755);
    }
    for (const auto& n : nodes) {
        const std::string dev = sys + "/devices/" + n.hctl;
        ::mkdir(dev.c_str(), 0755);
        ::mkdir((dev + "/scsi_generic").c_str(), 0755);
        ::mkdir((dev + "/scsi_generic/" + n.sg).c_str(), 0755);
        n.type != nullptr ? write(dev + "/type", n.type)
                          : void(::mkdir((dev + "/type").c_str(), 0755));
        const std::string cls = sys + "/class/scsi_generic/" + n.sg;
        ::mkdir(cls.c_str(), 0755);
        EXPECT_EQ(::symlink(("../../../devices/" + std::string(n.hctl)).c_str(),
                            (cls + "/device").c_str()),
                  0);
    }
    for (const char* tape : {"st0", "nst0"}) {
        const std::string cls = sys + "/class/scsi_tape/" + tape;
        ::mkdir(cls.c_str(), 0755);
        EXPECT_EQ(::symlink("../../../devices/1:0:1:0", (cls + "/device").c_str()), 0);
    }
    ::unlink((sys + "/devices/4:0:0:0/type").c_str());  // sg4: a device gone since
    return sys;
}

TEST(Sysfs, FindsTapeDrivesAndChangers) {
    const std::string sys = scratchSysfs();
    std::string found;
    for (const tool::SgNode& n : tool::scsiGenericNodes(sys)) {
        found += n.name + "=" + std::to_string(n.type) + (tool::isTapeOrChanger(n) ? "* " : " ");
        EXPECT_EQ(n.type < 0, !n.problem.empty()) << n.name << ": " << n.problem;
    }
    EXPECT_EQ(found, "sg0=0 sg1=1* sg2=8* sg3=-1 sg4=-1 sg10=1* ");
    EXPECT_EQ(tool::hctlOf(sys, "sg2"), "1:0:2:0");
    EXPECT_EQ(tool::hctlOf(sys, "sg9"), "");
    EXPECT_EQ(tool::sgOfTape(sys, "nst0"), "sg1");
    EXPECT_EQ(tool::sgOfTape(sys, "st7"), "");
    EXPECT_TRUE(tool::scsiGenericNodes(sys + "/nothing").empty());
}

TEST(Device, AnswersAreReadAsTheirReports) {
    const std::string sys = scratchSysfs();
    const Bytes drive = answer({command("00", 20, 60), command("01", 1800, 2400),
                                command("8c", 0, 300), command("12", 0, -1)});
    const Bytes changer = answer({command("a5", 300, 1200), command("07", 0, 3600)});
    const Bytes none = answer({command("00", 0, -1), command("01", 0, -1)});
    using K = tool::ScsiResult::Kind;
    const struct {
        const char* path;
        std::vector<Reply> inquiry, rsoc;
        const char* reason;  // "" when the report is kept
        const char* identity;
        int type;
    } rows[] = {
        {"/dev/sg1",
         {{K::Good, inquiry(1, "IBM", "ULT3580-TD8", "Q3F2"), {}}},
         {{K::Good, drive, {}}},
         "",
         "IBM|ULT3580-TD8|Q3F2|1:0:1:0",
         1},
        {"/dev/sg2",
         {{K::Good, inquiry(8, "STK", "SL150", "0200"), {}}},
         {check(unit_attention), {K::Good, changer, {}}},
         "",
         "STK|SL150|0200|1:0:2:0",
         8},
        {"/dev/sg10",
         {{K::Good, inquiry(1, "HP", "Ultrium 6-SCSI", "35GD"), {}}},
         {{K::Good, none, {}}},
         "answered without command timeouts",
         "HP|Ultrium 6-SCSI|35GD|3:0:0:0",
         1},
        {"/dev/sg1",
         {{K::Good, inquiry(1, "QUANTUM", "ULTRIUM 4", "2210"), {}}},
         {check(illegal_opcode)},
         "REPORT SUPPORTED OPERATION CODES is not supported: ILLEGAL REQUEST, invalid command "
         "operation code (ASC/ASCQ 0x20/0x00)",
         "QUANTUM|ULTRIUM 4|2210|1:0:1:0",
         1},
        {"/dev/sg1",
         {{K::Good, inquiry(1, "IBM", "03592E08", "4A4F"), {}}},
         {check(illegal_field)},
         "with command timeouts (RCTD) is not supported: ILLEGAL REQUEST, invalid field in CDB",
         "IBM|03592E08|4A4F|1:0:1:0",
         1},
        {"/dev/sg1",
         {{K::Good, inquiry(1, "IBM", "ULT3580-TD8", "Q3F2"), {}}},
         {{K::TimedOut, {}, {}}},
         "REPORT SUPPORTED OPERATION CODES timed out after 60 s (the request's own timeout)",
         "IBM|ULT3580-TD8|Q3F2|1:0:1:0",
         1},
        {"/dev/sg1",
         {{K::OtherStatus, {}, {}}},
         {},
         "INQUIRY failed: SCSI status",
         "|||1:0:1:0",
         -1},
        {"/dev/sg1",
         {{K::Good, Bytes(20, 0), {}}},
         {},
         "INQUIRY answered 20 bytes",
         "|||1:0:1:0",
         -1},
        {"/dev/sg1",
         {{K::Good, inquiry(1, "IBM", "ULT3580-TD8", "Q3F2"), {}}},
         {{K::Good,
           hex("00 00 00 14 01 00 00 00 00 02 00 06 00 0b 00 00 00 00 00 00 00 00 00 3c"),
           {}}},
         "answered a malformed list",
         "",
         1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reason);
        Replay device;
        device.replies[0x12] = {row.inquiry.begin(), row.inquiry.end()};
        device.replies[0xA3] = {row.rsoc.begin(), row.rsoc.end()};
        const tool::DeviceAnswer a = tool::askDevice(row.path, device, sys);
        EXPECT_EQ(a.path, row.path);
        EXPECT_EQ(a.type, row.type);
        if (*row.identity != '\0') {
            EXPECT_EQ(a.vendor + "|" + a.product + "|" + a.revision + "|" + a.hctl, row.identity);
        }
        if (*row.reason == '\0') {
            EXPECT_EQ(a.reason, "");
            EXPECT_EQ(a.report, row.rsoc.back().data);
        } else {
            EXPECT_NE(a.reason.find(row.reason), std::string::npos) << a.reason;
            EXPECT_TRUE(a.report.empty());
        }
        ASSERT_FALSE(device.sent.empty());
        EXPECT_EQ(device.sent[0], hex("12 00 00 00 60 00"));
        if (device.sent.size() > 1) {
            EXPECT_EQ(device.sent[1], hex("a3 0c 80 00 00 00 00 00 ff fc 00 00"));
        }
    }
}

// A list longer than the first allocation length: asked again for all of it.
TEST(Device, LongListsAreAskedForInFull) {
    const Bytes full = answer(std::vector<std::string>(3300, command("01", 0, 600)));
    Replay device;
    using K = tool::ScsiResult::Kind;
    device.replies[0x12] = {{K::Good, inquiry(8, "STK", "SL8500", "0100"), {}}};
    device.replies[0xA3] = {{K::Good, full, {}}, {K::Good, full, {}}};
    const tool::DeviceAnswer a = tool::askDevice("/dev/sg2", device, scratchSysfs());
    EXPECT_EQ(a.reason, "");
    EXPECT_EQ(a.report, full);
    ASSERT_EQ(device.sent.size(), 3U);
    EXPECT_EQ(device.sent[2], hex("a3 0c 80 00 00 00 00 01 01 d4 00 00"));  // 66004 bytes
}

TEST(Device, TapeNodesAreNeverOpened) {
    const std::string sys = scratchSysfs();
    const struct {
        const char* path;
        const char* reason;
    } rows[] = {{"/dev/nst0", "give /dev/sg1 instead"},
                {"/dev/st0", "give /dev/sg1 instead"},
                {"/dev/nst3l", "give its SCSI generic node (/dev/sgN) instead"},
                {"/dev/sg1", "permission denied: it belongs to group tape"}};
    for (const auto& row : rows) {
        Replay device;
        device.refuse = "permission denied: it belongs to group tape";
        const tool::DeviceAnswer a = tool::askDevice(row.path, device, sys);
        EXPECT_NE(a.reason.find(row.reason), std::string::npos) << a.reason;
        EXPECT_EQ(device.opened, std::string(row.path) == "/dev/sg1" ? 1 : 0) << row.path;
        EXPECT_TRUE(device.sent.empty());
    }
}

TEST(Device, NodesAndOpenFailuresInWords) {
    const auto node = [](mode_t type, unsigned major_number) {
        struct stat st {};
        st.st_mode = type | 0660;
        st.st_rdev = makedev(major_number, 1);
        st.st_gid = 0;
        return st;
    };
    EXPECT_EQ(tool::nodeProblem(node(S_IFCHR, 21)), "");
    EXPECT_EQ(tool::nodeProblem(node(S_IFCHR, 9)),
              "a tape node, not a SCSI generic node (/dev/sgN)");
    EXPECT_EQ(tool::nodeProblem(node(S_IFREG, 0)),
              "not a SCSI generic node (/dev/sgN): a regular file");
    EXPECT_EQ(tool::nodeProblem(node(S_IFBLK, 8)),
              "not a SCSI generic node (/dev/sgN): a block device");
    EXPECT_EQ(tool::nodeProblem(node(S_IFCHR, 1)),
              "not a SCSI generic node (/dev/sgN): another character device");
    EXPECT_EQ(tool::openProblem(EACCES, node(S_IFCHR, 21)),
              "permission denied: it belongs to group root (mode 660): add the user to group "
              "root, or run as root");
    EXPECT_EQ(tool::openProblem(EBUSY, node(S_IFCHR, 21)).rfind("busy: ", 0), 0U);
    EXPECT_EQ(tool::openProblem(ENXIO, node(S_IFCHR, 21)).rfind("no device behind it", 0), 0U);
    EXPECT_EQ(tool::openProblem(EIO, node(S_IFCHR, 21)), "cannot open it: Input/output error");
    int key = 0;
    int asc = 0;
    EXPECT_EQ(tool::senseText(hex("70 00 02 00 00 00 00 0a 00 00 00 00 3a 00"), key, asc),
              "NOT READY, medium not present (ASC/ASCQ 0x3A/0x00)");
    EXPECT_EQ(tool::senseText(hex("70 00"), key, asc),
              "CHECK CONDITION without sense data that can be read");
    EXPECT_EQ(key, -1);
#ifdef QR_TOOL_LIVE_HOST
    const std::string dir = scratch("nodes");
    write(dir + "/sg1", "");
    tool::SgTransport sg;
    std::string reason;
    EXPECT_FALSE(sg.open(dir + "/sg1", reason));
    EXPECT_EQ(reason, "not a SCSI generic node (/dev/sgN): a regular file");
    EXPECT_FALSE(sg.open(dir + "/sg2", reason));
    EXPECT_EQ(reason, "no such device node");
#endif
}

#ifdef QR_TOOL_LIVE_HOST
// ---- The journal ----------------------------------------------------------------------------

struct Entry {
    uint64_t usec;
    char boot;  // the boot id is 32 of this hex digit
    std::string message;
    const char* transport = "kernel";
    const char* identifier = nullptr;  // SYSLOG_IDENTIFIER
};

std::string remoteProgram() {
    for (const char* p :
         {"/lib/systemd/systemd-journal-remote", "/usr/lib/systemd/systemd-journal-remote"}) {
        if (::access(p, X_OK) == 0) {
            return p;
        }
    }
    return "";
}

// A journal file made by systemd-journal-remote from the export format. It exits 0 even when
// it wrote nothing, so what it says it wrote is checked.
::testing::AssertionResult makeJournal(const std::string& file, const std::vector<Entry>& entries) {
    std::string in;
    for (const Entry& e : entries) {
        in += "__REALTIME_TIMESTAMP=" + std::to_string(e.usec) +
              "\n__MONOTONIC_TIMESTAMP=" + std::to_string(e.usec % (1000 * s)) +
              "\n_BOOT_ID=" + std::string(32, e.boot) + "\n_TRANSPORT=" + e.transport + "\n";
        if (e.identifier != nullptr) {
            in += std::string("SYSLOG_IDENTIFIER=") + e.identifier + "\n";
        }
        if (e.message.find_first_of(std::string("\n\0\xff", 3)) == std::string::npos) {
            in += "MESSAGE=" + e.message + "\n\n";
        } else {  // binary: the name, a 64-bit little-endian length, the bytes
            in += "MESSAGE\n";
            for (int i = 0; i < 8; ++i) {
                in += static_cast<char>((e.message.size() >> (8 * i)) & 0xFF);
            }
            in += e.message + "\n\n";
        }
    }
    write(file + ".export", in);
    const std::string command = remoteProgram() + " --output=" + file + " -";
    int rc = -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in_fd = ::open((file + ".export").c_str(), O_RDONLY);
        const int err_fd = ::open((file + ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd >= 0 && err_fd >= 0 && ::dup2(in_fd, 0) == 0 && ::dup2(err_fd, 2) == 2) {
            const std::string output = "--output=" + file;
            ::execl(remoteProgram().c_str(), "systemd-journal-remote", output.c_str(), "-",
                    nullptr);
        }
        ::_exit(127);
    }
    if (pid > 0 && ::waitpid(pid, &rc, 0) == pid) {
        rc = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128;
    }
    std::ifstream log(file + ".log");
    const std::string said((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    const std::string expected = "after writing " + std::to_string(entries.size()) + " entries";
    if (rc != 0 || said.find(expected) == std::string::npos) {
        return ::testing::AssertionFailure() << command << " exited " << rc << ": " << said;
    }
    return ::testing::AssertionSuccess();
}

class Journal : public ::testing::Test {
  protected:
    void SetUp() override {
        if (remoteProgram().empty()) {
            if (std::getenv("CI") != nullptr) {
                FAIL() << "systemd-journal-remote is missing (package systemd-journal-remote)";
            }
            GTEST_SKIP() << "systemd-journal-remote is missing (package systemd-journal-remote)";
        }
        dir_ = scratch("journal");
    }
    // "message@position" for each entry read, or "error: ..." (the outcome's number first).
    static std::string read(const tool::JournalRequest& request) {
        std::string out;
        const tool::JournalResult r = tool::readJournal(request, [&](const tool::JournalEntry& e) {
            EXPECT_NE(tool::cursorOf(e).find(";i="), std::string::npos);
            out += std::string(e.message) + "@" + std::to_string(e.realtime_usec / s - t0) + " ";
        });
        if (r.outcome != tool::JournalOutcome::Read) {
            return std::to_string(static_cast<int>(r.outcome)) + " error: " + r.error;
        }
        return out;
    }
    static tool::JournalRequest at(const std::string& path) {
        tool::JournalRequest r;
        r.host = false;
        r.path = path;
        return r;
    }
    std::string dir_;
};

TEST_F(Journal, OnlyTheKernelsMessagesAreRead) {
    const std::string file = dir_ + "/one.journal";
    const std::string binary("st 1:0:1:0: \xff\x01 bin\nary\0!", 24);
    ASSERT_TRUE(makeJournal(file, {{t0 * s, 'a', "st 1:0:1:0: first"},
                                   {(t0 + 1) * s, 'a', "st 1:0:1:0: syslog", "syslog", "kernel"},
                                   {(t0 + 2) * s, 'a', "st 1:0:1:0: journal", "journal", "kernel"},
                                   {(t0 + 3) * s, 'a', "st 1:0:1:0: stdout", "stdout", "kernel"},
                                   {(t0 + 4) * s, 'a', binary}}));
    std::vector<std::string> seen;
    std::vector<uint64_t> positions;
    const tool::JournalResult r = tool::readJournal(at(file), [&](const tool::JournalEntry& e) {
        seen.emplace_back(e.message);
        positions.push_back(e.position);
    });
    EXPECT_EQ(r.outcome, tool::JournalOutcome::Read) << r.error;
    EXPECT_EQ(seen, (std::vector<std::string>{"st 1:0:1:0: first", binary}));
    EXPECT_EQ(positions, (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(r.entries, 2U);
}

TEST_F(Journal, BootsAndSinceCombine) {
    const std::string file = dir_ + "/boots.journal";
    ASSERT_TRUE(makeJournal(file, {{t0 * s, 'a', "a1"},
                                   {(t0 + 10) * s, 'a', "a2"},
                                   {(t0 + 100) * s, 'b', "b1"},
                                   {(t0 + 110) * s, 'b', "b2"}}));
    const struct {
        bool boot_set;
        int boot;
        int64_t since;  // seconds after t0, microseconds in the fraction; -1000: none
        const char* read;
    } rows[] = {{false, 0, -1000, "a1@0 a2@10 b1@100 b2@110 "},
                {true, 0, -1000, "b1@100 b2@110 "},
                {true, -1, -1000, "a1@0 a2@10 "},
                {true, 1, -1000, "a1@0 a2@10 "},
                {true, 2, -1000, "b1@100 b2@110 "},
                {true, -2, -1000,
                 "3 error: no boot -2 in the journal: it holds the kernel's messages of 2 boots"},
                {true, 3, -1000, "3 error: no boot 3"},
                {false, 0, 10000000, "a2@10 b1@100 b2@110 "},  // inclusive
                {false, 0, 10000001, "b1@100 b2@110 "},
                {false, 0, -1, "a1@0 a2@10 b1@100 b2@110 "},
                {false, 0, 110000001, ""},
                {true, -1, 10000000, "a2@10 "}};
    for (const auto& row : rows) {
        tool::JournalRequest request = at(file);
        request.boot_set = row.boot_set;
        request.boot = row.boot;
        request.since_set = row.since != -1000;
        request.since_usec = t0 * s + static_cast<uint64_t>(row.since);
        const std::string got = read(request);
        EXPECT_EQ(got.substr(0, std::string(row.read).size()), row.read)
            << "boot " << row.boot_set << " " << row.boot << ", since " << row.since;
    }
}

TEST_F(Journal, FoldersHostsAndErrors) {
    ::mkdir((dir_ + "/good").c_str(), 0755);
    ASSERT_TRUE(makeJournal(dir_ + "/good/one.journal", {{t0 * s, 'a', "one"}}));
    ASSERT_TRUE(makeJournal(dir_ + "/good/two.journal", {{(t0 + 5) * s, 'b', "two"}}));
    ::mkdir((dir_ + "/empty").c_str(), 0755);
    ::mkdir((dir_ + "/mixed").c_str(), 0755);
    ASSERT_TRUE(makeJournal(dir_ + "/mixed/good.journal", {{t0 * s, 'a', "one"}}));
    write(dir_ + "/mixed/system@0-0.journal~", std::string(4096, 'x'));
    write(dir_ + "/bad.journal", "LPKSHHRH and then nothing of a journal");
    // A host's root: var/log/journal/<machine>/system.journal, and the boot it runs.
    const std::string machine = dir_ + "/root/var/log/journal/0123456789abcdef0123456789abcdef";
    for (const char* d :
         {"/root", "/root/var", "/root/var/log", "/root/var/log/journal", "/root/proc",
          "/root/proc/sys", "/root/proc/sys/kernel", "/root/proc/sys/kernel/random"}) {
        ::mkdir((dir_ + d).c_str(), 0755);
    }
    ::mkdir(machine.c_str(), 0755);
    ASSERT_TRUE(makeJournal(machine + "/system.journal",
                            {{t0 * s, 'a', "a1"}, {(t0 + 100) * s, 'b', "b1"}}));
    write(dir_ + "/root/proc/sys/kernel/random/boot_id", "aaaaaaaa-aaaa-aaaa-aaaa-aaaaaaaaaaaa\n");
    ::mkdir((dir_ + "/bare").c_str(), 0755);
    const auto host = [&](const std::string& root, bool boot_set, int boot) {
        tool::JournalRequest r;
        r.root = dir_ + root;
        r.boot_set = boot_set;
        r.boot = boot;
        return r;
    };
    const struct {
        tool::JournalRequest request;
        std::string read;
    } rows[] = {
        {at(dir_ + "/good"), "one@0 two@5 "},
        {at(dir_ + "/empty"), "1 error: no journal files (*.journal) in " + dir_ + "/empty"},
        {at(dir_ + "/nothing.journal"),
         "1 error: cannot open journal " + dir_ + "/nothing.journal: "},
        {at(dir_ + "/bad.journal"), "3 error: cannot open journal " + dir_ + "/bad.journal: "},
        {at(dir_ + "/mixed"),
         "3 error: cannot open journal file " + dir_ + "/mixed/system@0-0.journal~: "},
        {host("/root", false, 0), "a1@0 b1@100 "},
        {host("/root", true, 0), "a1@0 "},  // the boot this host runs, not the last one
        {host("/root", true, -1), "3 error: no boot -1"},
        {host("/bare", true, 0),
         "1 error: no journal on this host: no journal files in /var/log/journal"},
    };
    for (const auto& row : rows) {
        const std::string got = read(row.request);
        EXPECT_EQ(got.substr(0, row.read.size()), row.read) << got;
    }
    // The system journal unreadable: what a user outside systemd-journal and adm meets.
    ::chmod(machine.c_str(), 0755);
    ::chmod((machine + "/system.journal").c_str(), 0600);
    for (const char* d : {"", "/root", "/root/var", "/root/var/log", "/root/var/log/journal"}) {
        ::chmod((dir_ + d).c_str(), 0755);
    }
    inFreshProcess([&] {
        if (::geteuid() == 0) {
            ASSERT_EQ(::seteuid(65534), 0);
        }
        EXPECT_EQ(
            read(host("/root", false, 0)),
            "2 error: cannot read " + machine +
                "/system.journal: Permission denied (the "
                "kernel's messages need membership of group systemd-journal or adm, or root)");
    });
}

// ---- advise on the host, end to end ---------------------------------------------------------

Outcome advise(std::vector<std::string> args) {
    args.insert(args.begin(), "advise");
    return runToolFor(std::move(args), tool::ReadBack::SameProcess);
}

// A host's root for SCSI_TIMEOUTS_TEST_ROOT, the sample registry as the store.
class Host : public Journal {
  protected:
    void SetUp() override {
        Journal::SetUp();
        if (IsSkipped()) {
            return;
        }
        std::ifstream sample(QR_SAMPLE_REGISTRY);
        write(dir_ + "/registry.ini", std::string(std::istreambuf_iterator<char>(sample), {}));
        ::setenv("QRLIB_STAND_IN_FILE", (dir_ + "/registry.ini").c_str(), 1);
        st::reset();
        ::setenv("SCSI_TIMEOUTS_TEST_ROOT", dir_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("SCSI_TIMEOUTS_TEST_ROOT");
        ::unsetenv("QRLIB_STAND_IN_FILE");
    }
    // The field example's two lines as kernel entries of the current boot.
    static void journal(const std::string& file) {
        ASSERT_TRUE(makeJournal(
            file, {{t0 * s, 'a',
                    "st 1:0:1:0: attempting task abort!scmd(0x000000008b10e4e8), "
                    "outstanding for 62233 ms & timeout 60000 ms"},
                   {t0 * s + 28, 'a', "st 1:0:1:0: tag#4695 CDB: Read attributes 8c"}}));
    }
    void hostJournal() {
        std::string d = dir_;
        for (const char* part : {"/var", "/log", "/journal", "/0123456789abcdef0123456789abcdef"}) {
            ::mkdir((d += part).c_str(), 0755);
        }
        journal(d + "/system.journal");
        for (const char* part :
             {"/proc", "/proc/sys", "/proc/sys/kernel", "/proc/sys/kernel/random"}) {
            ::mkdir((dir_ + part).c_str(), 0755);
        }
        write(dir_ + "/proc/sys/kernel/random/boot_id", "aaaaaaaa-aaaa-aaaa-aaaa-aaaaaaaaaaaa\n");
    }
    // sysfs with one tape drive, sg1, whose node is a plain file here.
    void hostTape() {
        for (const char* d :
             {"/sys", "/sys/class", "/sys/class/scsi_generic", "/sys/class/scsi_generic/sg1",
              "/sys/class/scsi_generic/sg1/device", "/dev"}) {
            ::mkdir((dir_ + d).c_str(), 0755);
        }
        write(dir_ + "/sys/class/scsi_generic/sg1/device/type", "1\n");
        write(dir_ + "/dev/sg1", "");
    }
};

TEST_F(Host, JournalFileGivesTheTextLogsProposal) {
    journal(dir_ + "/field.journal");
    const Outcome text = advise({"--journal=" + dir_ + "/field.journal"});
    EXPECT_EQ(text.status, 1) << text.err;
    EXPECT_NE(text.out.find("proposed 660 s: scsi-timeouts set CDB_8C 11m  (kernel log: 1 "
                            "timeout, longest expired 60 s (\"" +
                            dir_ + "/field.journal\" entry 1"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("0 log lines, 2 journal entries read"), std::string::npos);
    const Outcome json =
        advise({"--json", "--journal=" + dir_ + "/field.journal", "--since", "-1000d"});
    const auto j = nlohmann::json::parse(json.out);
    const auto& e = j["proposals"][0]["evidence"][0];
    EXPECT_EQ(e["source"], "journal");
    EXPECT_EQ(e["journal"], dir_ + "/field.journal");
    EXPECT_NE(e["cursor"].get<std::string>().find(";i=1;"), std::string::npos) << e;
    EXPECT_EQ(e["timestamp"].get<std::string>().substr(0, 19),
              tool::localTimestamp(t0 * s).substr(0, 19));
    EXPECT_EQ(j["counts"]["journal_entries"], 2);
}

TEST_F(Host, ThisHostUsesWhatTheHostHas) {
    const struct {
        bool journal, tape;
        std::vector<std::string> args;
        int status;
        const char* out;  // in the output, or in the error for status 2
    } rows[] = {
        {false,
         false,
         {"--this-host"},
         2,
         "nothing to read on this host: no journal on this host: no journal files in "
         "/var/log/journal or /run/log/journal (no systemd, or a container); no tape drive or "
         "medium changer on this host"},
        {true, false, {"--this-host"}, 1, "warning: no tape drive or medium changer on this host"},
        {true, false, {"--this-host"}, 1, "scsi-timeouts set CDB_8C 11m"},
        {false, true, {"--this-host"}, 2, "no device answered, and there is no other evidence: "},
        {false,
         true,
         {"--devices"},
         2,
         "/dev/sg1: not a SCSI generic node (/dev/sgN): a regular file"},  // the error's words
        {true,
         true,
         {"--this-host"},
         1,
         "/dev/sg1\": no report: not a SCSI generic node (/dev/sgN): a regular file"},
        {false, false, {"--journal"}, 2, "no journal on this host"},
        {true, false, {"--journal", "--boot", "-1"}, 2, "no boot -1 in the journal"},
        {true, false, {"--journal", "--boot=1", "--since", "2025-12-10 03:50:53"}, 1, "CDB_8C 11m"},
        {true, false, {"--journal", "--since", "2025-12-10 03:50:54"}, 0, "0 timeout events"},
        {true,
         false,
         {"--this-host", "--since", "yesterday-ish"},
         2,
         "--since yesterday-ish: expected"},
        {true, false, {"--since", "-7d"}, 2, "--since and --boot go with --journal or --this-host"},
        {true, false, {"--journal", "--boot=x"}, 2, "--boot takes a number of boots"},
        {true,
         false,
         {},
         2,
         "advise needs evidence: --this-host reads this host's drives and journal"},
        {false, false, {"--device", "/dev/nst0"}, 2, "a tape node, never opened here"},
    };
    for (const auto& row : rows) {
        SetUp();
        if (row.journal) {
            hostJournal();
        }
        if (row.tape) {
            hostTape();
        }
        ::setenv("TZ", "UTC0", 1), ::tzset();
        const Outcome r = advise(row.args);
        ::unsetenv("TZ"), ::tzset();
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_NE((row.status == 2 ? r.err : r.out).find(row.out), std::string::npos)
            << (row.status == 2 ? r.err : r.out);
        TearDown();
    }
}

TEST_F(Host, DeviceAnswersAreDriveReports) {
    ::setenv("SCSI_TIMEOUTS_TEST_ROOT", dir_.c_str(), 1);
    ::rename(scratchSysfs().c_str(), (dir_ + "/sys").c_str());
    Replay device;
    using K = tool::ScsiResult::Kind;
    device.replies[0x12] = {{K::Good, inquiry(1, "IBM", "ULT3580-TD8", "Q3F2"), {}},
                            {K::Good, inquiry(8, "STK", "SL150", "0200"), {}}};
    device.replies[0xA3] = {{K::Good, answer({command("01", 1800, 2400)}), {}},
                            check(illegal_opcode)};
    tool::Arguments args;
    args.devices = {"/dev/sg1", "/dev/sg2"};
    tool::Evidence ev;
    tool::KernelLogReader reader(ev.log);
    std::ostringstream err;
    ASSERT_TRUE(tool::readHostEvidence(args, reader, ev, err, &device)) << err.str();
    ASSERT_EQ(ev.drives.size(), 1U);
    EXPECT_EQ(ev.drive_files[0], "/dev/sg1 (IBM ULT3580-TD8 Q3F2, 1:0:1:0)");
    EXPECT_EQ(ev.drives[0].asks[0x01].seconds, 2400U);
    EXPECT_EQ(ev.drive_devices[0], 0);
    ASSERT_EQ(ev.devices.size(), 2U);
    ASSERT_EQ(ev.warnings.size(), 1U);
    EXPECT_EQ(ev.warnings[0].shown,
              "device \"/dev/sg2\" (STK SL150 0200, 1:0:2:0): no report: REPORT SUPPORTED "
              "OPERATION CODES is not supported: ILLEGAL REQUEST, invalid command operation code "
              "(ASC/ASCQ 0x20/0x00)");
}
#endif

#ifndef QR_TOOL_LIVE_HOST
TEST(HostWithoutLiveSources, OptionsAreRefused) {
    for (const char* option : {"--journal", "--device=/dev/sg1", "--devices", "--this-host"}) {
        std::vector<std::string> args = {"scsi-timeouts", "advise", option};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(tool::runTool(3, argv.data(), out, err, tool::ReadBack::SameProcess), 2);
        EXPECT_NE(err.str().find("built without reading the host (QR_TOOL_LIVE_HOST=OFF)"),
                  std::string::npos)
            << err.str();
    }
}
#endif

}  // namespace
