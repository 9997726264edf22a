// advise: the evidence read first and in full (a malformed input stops everything before the
// registry is even read), then the registry as show reads it, then one proposal per code.
#include "advise.h"

#include <QrPlatformInfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>
#include <vector>

#include "drive_report.h"
#include "json_bytes.h"
#include "kernel_log.h"
#include "scsi_commands.h"
#include "scsi_timeouts_tool.h"
#include "value_names.h"
#include "views.h"

namespace scsi_timeouts_tool {

const char advise_help[] =
    "Usage: scsi-timeouts advise [--json] [--drive-report FILE]... [--kernel-log FILE]...\n"
    "                            [--apply [--dry-run]]\n"
    "Reads a drive's own command timeouts and the kernel log, and proposes for each\n"
    "operation code with evidence the value to set, as a command to paste:\n"
    "  scsi-timeouts set CDB_8C 11m\n"
    "Capture the evidence with\n"
    "  sg_opcodes --rctd --raw /dev/sgN > FILE      (sg3-utils; --drive-report FILE)\n"
    "  journalctl -k > FILE, or dmesg > FILE        (--kernel-log FILE)\n"
    "The table sg_opcodes --rctd /dev/sgN prints does as well as --raw; a report in which\n"
    "no command has timeouts (captured without --rctd) is refused.\n"
    "FILE may be '-' for standard input, once. A drive asks for its recommended timeout, or\n"
    "its nominal one; a logged timeout that expired after E seconds asks for max(2E, E+600)\n"
    "rounded up to a minute. The proposal is the larger, at most 86400, and never shorter\n"
    "than the timeout in force. Timeouts the log does not name come apart, with the logging\n"
    "that names the next one. --json prints {\"proposals\", \"enough\", \"unnamed\",\n"
    "\"warnings\", \"counts\"}. --apply runs each proposal through set (write, read back),\n"
    "stopping at the first that does not read back; with --dry-run it writes nothing.\n"
    "Exit status: 0 nothing to propose; 1 proposals made (--apply: and all applied);\n"
    "2 usage error, unreadable or malformed input, a failing store, or a failed apply.\n";

namespace {

using Json = nlohmann::ordered_json;

constexpr int32_t one_day = qst::timeout_bounds.max;
constexpr const char* logging_advice =
    "to have the next one named, switch on the SCSI mid-layer's completion logging: "
    "scsi_logging_level -s --mlcomplete 1 (sg3-utils), or sysctl -w "
    "dev.scsi.logging_level=4096";

struct Input {
    std::string file;
    int fd = -1;
};

struct Evidence {
    std::vector<std::string> drive_files;
    std::vector<DriveReport> drives;
    std::vector<std::string> log_files;
    KernelLogFindings log;
    std::vector<std::string> warnings;
};

// One proposal, or a code for which the timeout in force is enough.
struct Advice {
    unsigned char opcode = 0;
    ValueName value{};                 // what set writes
    const ValueReport* now = nullptr;  // what decides the code now
    int32_t in_force = 0;
    int32_t proposed = 0;
    int drive = -1;  // the report that asks the most
    uint32_t drive_asks = 0;
    int64_t expired_ms = -1;  // E, where the log has events
    std::vector<std::string> notes;
};

std::string secondsText(int64_t ms) {
    std::string s = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(ms % 1000));
        s += fraction;
        s.erase(s.find_last_not_of('0') + 1);
    }
    return s + " s";
}

Json secondsJson(int64_t ms) {
    return ms % 1000 == 0 ? Json(ms / 1000) : Json(static_cast<double>(ms) / 1000.0);
}

// Opens every FILE; "-" is standard input, once.
bool openInputs(const std::vector<std::string>& files, std::vector<Input>& out, bool& stdin_used,
                std::ostream& err, int& status) {
    for (const std::string& file : files) {
        Input in{file, -1};
        if (file == "-") {
            if (stdin_used) {
                status = usageError(err, "standard input ('-') can be given once");
                return false;
            }
            stdin_used = true;
            in.fd = STDIN_FILENO;
        } else {
            in.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (in.fd < 0) {
                err << "scsi-timeouts: cannot read " << quoted(file.c_str()) << ": "
                    << std::strerror(errno) << '\n';
                status = exit_usage;
                return false;
            }
        }
        out.push_back(in);
    }
    return true;
}

void closeInputs(std::vector<Input>& inputs) {
    for (Input& in : inputs) {
        if (in.fd > STDIN_FILENO) {
            ::close(in.fd);
        }
        in.fd = -1;
    }
}

// At most a byte more than a report may have: enough to know it is too large.
bool readReport(int fd, std::vector<unsigned char>& bytes, std::string& error) {
    bytes.assign(drive_report_max + 1, 0);
    std::size_t have = 0;
    while (have < bytes.size()) {
        const long n =
            readSome(fd, reinterpret_cast<char*>(bytes.data()) + have, bytes.size() - have, error);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return true;
}

bool readEvidence(const Arguments& args, Evidence& ev, std::ostream& err, int& status) {
    std::vector<Input> reports;
    std::vector<Input> logs;
    bool stdin_used = false;
    const bool opened = openInputs(args.drive_reports, reports, stdin_used, err, status) &&
                        openInputs(args.kernel_logs, logs, stdin_used, err, status);
    bool ok = opened;
    for (std::size_t i = 0; ok && i < reports.size(); ++i) {
        std::vector<unsigned char> bytes;
        std::string error;
        const std::string name = quoted(reports[i].file.c_str());
        if (!readReport(reports[i].fd, bytes, error)) {
            err << "scsi-timeouts: cannot read " << name << ": " << error << '\n';
            ok = false;
            break;
        }
        DriveReport report = parseDriveReport(bytes.data(), bytes.size());
        if (report.malformed) {
            err << "scsi-timeouts: " << name << ": byte " << report.offset
                << ": malformed drive report: " << report.reason << "; nothing applied\n";
            ok = false;
            break;
        }
        for (const std::string& w : report.warnings) {
            ev.warnings.push_back(name);
            ev.warnings.back() += ": " + w;
        }
        ev.drive_files.push_back(reports[i].file);
        ev.drives.push_back(std::move(report));
    }
    KernelLogScanner scanner(ev.log);
    for (std::size_t i = 0; ok && i < logs.size(); ++i) {
        std::string error;
        scanner.startFile(static_cast<int>(i));
        if (!scanKernelLog(logs[i].fd, scanner, error)) {
            err << "scsi-timeouts: cannot read " << quoted(logs[i].file.c_str()) << ": " << error
                << '\n';
            ok = false;
        }
        ev.log_files.push_back(logs[i].file);
    }
    scanner.finish();
    // Listed by device, in the order each device's were found.
    std::stable_sort(
        ev.log.first_unnamed.begin(), ev.log.first_unnamed.end(),
        [](const UnnamedTimeout& a, const UnnamedTimeout& b) { return a.device < b.device; });
    closeInputs(reports);
    closeInputs(logs);
    if (!ok && opened) {
        status = exit_usage;
    }
    if (ev.log.rate_limited) {
        ev.warnings.push_back(
            "the log dropped or folded messages (rate limiting): the counts are lower bounds");
    }
    return ok;
}

bool isProposal(const Advice& a) {
    return a.proposed > a.in_force;
}

// The notes the log gives about the sender's timeout.
void senderNote(const CodeEvidence& c, Advice& a) {
    const int64_t in_force_ms = int64_t{a.in_force} * 1000;
    int64_t shown = -1;
    if (c.shortest_timeout_ms >= 0 && c.shortest_timeout_ms != in_force_ms) {
        shown = c.shortest_timeout_ms;
    } else if (c.longest_timeout_ms >= 0 && c.longest_timeout_ms != in_force_ms) {
        shown = c.longest_timeout_ms;
    } else if (c.shortest_cmd_age_ms >= 0 && c.shortest_cmd_age_ms < in_force_ms) {
        shown = c.shortest_cmd_age_ms;
    }
    if (shown < 0) {
        return;
    }
    a.notes.push_back("the log shows a timeout of " + secondsText(shown) + ", not the " +
                      std::to_string(a.in_force) +
                      " s in force: the program that sent the command did not use this "
                      "registry's value, or it started before the value was set; " +
                      (isProposal(a) ? "the proposal" : "the value in force") +
                      " helps only once the sender takes its timeout from the library "
                      "(getScsiTimeout) in a process started after the change");
}

std::vector<Advice> advise(const Evidence& ev, const RegistryReport& registry,
                           std::vector<std::string>& warnings) {
    std::vector<Advice> out;
    for (int code = 0; code < 256; ++code) {
        Advice a;
        a.opcode = static_cast<unsigned char>(code);
        for (std::size_t r = 0; r < ev.drives.size(); ++r) {
            const DriveAsk& ask = ev.drives[r].asks[code];
            if (ask.present && ask.seconds > a.drive_asks) {
                a.drive = static_cast<int>(r);  // a tie keeps the first file given
                a.drive_asks = ask.seconds;
            }
        }
        const CodeEvidence& log = ev.log.codes[code];
        if (a.drive < 0 && log.events == 0) {
            continue;
        }
        a.value = decidingValue(a.opcode);
        a.now = &sourceValue(registry, a.opcode);
        a.in_force = registry.table[code];
        int64_t want = a.drive_asks;
        if (a.drive_asks > static_cast<uint32_t>(one_day)) {
            const std::string w = quoted(ev.drive_files[a.drive].c_str()) + " asks " +
                                  std::to_string(a.drive_asks) + " s for " + a.value.value +
                                  ", more than the library can hold (at most 86400 s)";
            warnings.push_back(w);
            a.notes.push_back(w);
        }
        if (log.events > 0) {
            a.expired_ms = log.longest_expired_ms;
            if (log.some_printed_none) {
                a.expired_ms = std::max(a.expired_ms, int64_t{a.in_force} * 1000);
            }
            want = std::max<int64_t>(want, timeoutAfter(a.expired_ms));
        }
        a.proposed = static_cast<int32_t>(std::min<int64_t>(want, one_day));
        if (log.events > 0) {
            senderNote(log, a);
        }
        out.push_back(std::move(a));
    }
    return out;
}

std::vector<std::string> setCommand(const Advice& a) {
    return {"scsi-timeouts", "set", a.value.value, formatDuration(a.proposed)};
}

std::string commandOf(const Advice& a) {
    const char* name = commandName(a.opcode);
    return name != nullptr ? name : "-";
}

// Why, in words: the drive file, the log events.
std::string why(const Advice& a, const Evidence& ev) {
    std::string out;
    if (a.drive >= 0) {
        out = "drive report " + quoted(ev.drive_files[a.drive].c_str()) + " asks " +
              std::to_string(a.drive_asks) + " s";
    }
    const CodeEvidence& log = ev.log.codes[a.opcode];
    if (log.events > 0) {
        const LogEvent& first = log.first.front();
        out += out.empty() ? "" : "; ";
        out += "kernel log: " + std::to_string(log.events) +
               (log.events == 1 ? " timeout" : " timeouts") + ", longest expired " +
               secondsText(a.expired_ms) +
               (log.some_printed_none && a.expired_ms == int64_t{a.in_force} * 1000
                    ? " (the timeout in force)"
                    : "") +
               " (" + quoted(ev.log_files[first.file].c_str()) + " line " +
               std::to_string(first.line) + ", " + quoted(first.device.c_str()) + ")";
    }
    return out;
}

void adviseText(std::ostream& out, const Evidence& ev, const std::vector<Advice>& advice,
                const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) {
        out << "warning: " << w << '\n';  // file names in it are quoted
    }
    for (const Advice& a : advice) {
        char head[64];
        std::snprintf(head, sizeof head, "0x%02X  ", a.opcode);
        out << head << commandOf(a) << "  " << a.value.value << "  in force " << a.in_force
            << " s (" << a.now->name << ")  ";
        if (isProposal(a)) {
            const std::vector<std::string> set = setCommand(a);
            out << "proposed " << a.proposed << " s: " << set[0] << ' ' << set[1] << ' ' << set[2]
                << ' ' << set[3];
        } else {
            out << "enough, nothing proposed";
        }
        out << "  (" << why(a, ev) << ")\n";
        for (const std::string& note : a.notes) {
            out << "  note: " << note << '\n';
        }
    }
    if (ev.log.unnamed > 0) {
        out << "unnamed timeouts (the log does not say which command):\n";
        for (const UnnamedTimeout& u : ev.log.first_unnamed) {
            out << "  " << quoted(u.device.c_str()) << "  " << quoted(ev.log_files[u.file].c_str())
                << " line " << u.line << ": " << quoted(u.text.c_str()) << '\n';
        }
        if (ev.log.unnamed > ev.log.first_unnamed.size()) {
            out << "  ... and " << ev.log.unnamed - ev.log.first_unnamed.size() << " more\n";
        }
        out << "  " << logging_advice << '\n';
    }
    const auto proposals = std::count_if(advice.begin(), advice.end(), isProposal);
    const auto count = [](uint64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    out << count(ev.log.lines, "log line", "log lines") << " read, "
        << count(ev.log.events, "timeout event", "timeout events") << ", " << ev.log.unnamed
        << " unnamed; " << count(ev.drives.size(), "drive report", "drive reports") << "; "
        << count(static_cast<uint64_t>(proposals), "proposal", "proposals") << '\n';
}

Json evidenceJson(const Advice& a, const Evidence& ev) {
    Json items = Json::array();
    if (a.drive >= 0) {
        const DriveAsk& ask = ev.drives[a.drive].asks[a.opcode];
        items.push_back({{"source", "drive-report"},
                         {"file", bytesJson(ev.drive_files[a.drive])},
                         {"recommended", ask.recommended},
                         {"nominal", ask.nominal}});
    }
    for (const LogEvent& e : ev.log.codes[a.opcode].first) {
        items.push_back(
            {{"source", "kernel-log"},
             {"file", bytesJson(ev.log_files[e.file])},
             {"line", e.line},
             {"device", bytesJson(e.device)},
             {"timestamp", e.timestamp.empty() ? Json(nullptr) : bytesJson(e.timestamp)},
             {"expired", e.expired() >= 0 ? secondsJson(e.expired()) : Json(nullptr)}});
    }
    return items;
}

Json adviseJson(const Evidence& ev, const std::vector<Advice>& advice,
                const std::vector<std::string>& warnings) {
    Json proposals = Json::array();
    Json enough = Json::array();
    for (const Advice& a : advice) {
        Json item = {{"opcode", a.opcode},
                     {"command", commandName(a.opcode) != nullptr ? Json(commandName(a.opcode))
                                                                  : Json(nullptr)},
                     {"name", a.value.value},
                     {"in_force", a.in_force},
                     {"in_force_from", a.now->name}};
        if (isProposal(a)) {
            item["proposed"] = a.proposed;
            item["set"] = setCommand(a);
        }
        Json notes = Json::array();
        for (const std::string& n : a.notes) {
            notes.push_back(bytesJson(n));
        }
        item["notes"] = notes;
        item["evidence"] = evidenceJson(a, ev);
        (isProposal(a) ? proposals : enough).push_back(item);
    }
    Json unnamed = Json::array();
    for (const UnnamedTimeout& u : ev.log.first_unnamed) {
        unnamed.push_back({{"device", bytesJson(u.device)},
                           {"file", bytesJson(ev.log_files[u.file])},
                           {"line", u.line},
                           {"text", bytesJson(u.text)}});
    }
    Json warning_list = Json::array();
    for (const std::string& w : warnings) {
        warning_list.push_back(bytesJson(w));
    }
    if (ev.log.unnamed > 0) {
        warning_list.push_back(logging_advice);
    }
    return {{"proposals", proposals},
            {"enough", enough},
            {"unnamed", unnamed},
            {"warnings", warning_list},
            {"counts",
             {{"lines", ev.log.lines}, {"events", ev.log.events}, {"unnamed", ev.log.unnamed}}}};
}

// What set printed, as one line without its program name.
std::string oneLine(std::string text) {
    const std::string program = "scsi-timeouts: ";
    if (text.compare(0, program.size(), program) == 0) {
        text.erase(0, program.size());
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::string joined(const std::vector<const Advice*>& advice) {
    std::string out;
    for (const Advice* a : advice) {
        out += out.empty() ? "" : ", ";
        out += a->value.value;
    }
    return out.empty() ? "none" : out;
}

// Each proposal through set itself, alone: the store has no transactions. Stops at the first
// that does not read back.
int applyAll(const Arguments& args, const std::vector<Advice>& advice, Streams io, Json& applied) {
    std::vector<const Advice*> proposals;
    for (const Advice& a : advice) {
        if (isProposal(a)) {
            proposals.push_back(&a);
        }
    }
    if (!args.json && !proposals.empty()) {
        io.out << "store: " << storeDescription() << '\n';
    }
    for (std::size_t i = 0; i < proposals.size(); ++i) {
        Arguments set;
        set.dry_run = args.dry_run;
        set.how_to_read_back = args.how_to_read_back;
        set.operands = setCommand(*proposals[i]);
        set.operands.erase(set.operands.begin());  // the program name
        std::ostringstream out;
        std::ostringstream err;
        if (runWrite(set, true, Streams{out, err}) != exit_clean) {
            const auto stop = proposals.begin() + static_cast<std::ptrdiff_t>(i);
            io.err << "scsi-timeouts: advise --apply stopped at " << proposals[i]->value.value
                   << ": " << oneLine(err.str())
                   << "; applied: " << joined({proposals.begin(), stop})
                   << "; not applied: " << joined({stop, proposals.end()}) << '\n';
            return exit_usage;
        }
        // set's last line is its result; the store line before it is printed once, above.
        std::string line = oneLine(out.str());
        line.erase(0, line.rfind('\n') + 1);
        applied.push_back({{"name", proposals[i]->value.value}, {"result", bytesJson(line)}});
        if (!args.json) {
            io.out << (args.dry_run ? "would apply: " : "applied: ") << line << '\n';
        }
    }
    return exit_findings;
}

}  // namespace

std::string formatDuration(int32_t seconds) {
    int32_t total = seconds;
    static const struct {
        int32_t seconds;
        char unit;
    } units[] = {{86400, 'd'}, {3600, 'h'}, {60, 'm'}, {1, 's'}};
    std::string out;
    for (const auto& u : units) {
        if (total >= u.seconds) {
            out += std::to_string(total / u.seconds) + u.unit;
            total %= u.seconds;
        }
    }
    return out;
}

int32_t timeoutAfter(int64_t expired_ms) {
    const int64_t ms = std::max(2 * expired_ms, expired_ms + INT64_C(600000));
    const int64_t minutes = (ms + 59999) / 60000;
    return static_cast<int32_t>(std::min<int64_t>(minutes * 60, one_day));
}

int runAdvise(const Arguments& args, Streams io) {
    if (args.operands.size() > 1) {
        return usageError(io.err, "advise takes no operands: " + quoted(args.operands[1].c_str()));
    }
    if (args.drive_reports.empty() && args.kernel_logs.empty()) {
        return usageError(io.err,
                          "advise needs evidence: --drive-report FILE, captured with "
                          "'sg_opcodes --rctd --raw /dev/sgN > FILE', or --kernel-log FILE, "
                          "captured with 'journalctl -k > FILE'");
    }
    if (args.dry_run && !args.apply) {
        return usageError(io.err, "--dry-run goes with --apply: advise alone never writes");
    }
    int status = exit_clean;
    const auto ev = std::make_unique<Evidence>();
    if (!readEvidence(args, *ev, io.err, status)) {
        return status;
    }
    const auto registry = std::make_unique<RegistryReport>();
    if (!withStore(io.err, status, [&] {
            QrPlatformInfo info;
            readRegistry(info, *registry);
        })) {
        return status;
    }
    std::vector<std::string> warnings = ev->warnings;
    const std::vector<Advice> advice = advise(*ev, *registry, warnings);
    const bool any = std::any_of(advice.begin(), advice.end(), isProposal);
    Json json = adviseJson(*ev, advice, warnings);
    if (!args.json) {
        adviseText(io.out, *ev, advice, warnings);
    }
    status = any ? exit_findings : exit_clean;
    if (args.apply && any) {
        Json applied = Json::array();
        status = applyAll(args, advice, io, applied);
        json["applied"] = applied;
        json["dry_run"] = args.dry_run;
    }
    if (args.json) {
        io.out << json.dump(2) << '\n';
    }
    return status;
}

}  // namespace scsi_timeouts_tool
