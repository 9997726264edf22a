// The command line of scsi-timeouts: its arguments, the commands that only read, exit status.
#include <QrPlatformInfo.h>
#include <fcntl.h>
#include <getopt.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "advise/advise.h"
#include "audit_log.h"
#include "command_line.h"
#include "profile/commands.h"
#include "scsi_timeouts_tool.h"
#include "terminal_text.h"
#include "value_names.h"
#include "views.h"

#ifndef QR_SCSI_TIMEOUTS_VERSION
#define QR_SCSI_TIMEOUTS_VERSION "unknown"
#endif

namespace scsi_timeouts_tool {

int FdOutput::overflow(int c) {
    if (!drain()) {
        return traits_type::eof();
    }
    if (c != traits_type::eof()) {
        *pptr() = static_cast<char>(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int FdOutput::sync() {
    return drain() ? 0 : -1;
}

bool FdOutput::drain() {
    const char* p = pbase();
    while (p < pptr() && error_ == 0) {
        const ssize_t n = ::write(fd_, p, static_cast<std::size_t>(pptr() - p));
        if (n > 0) {
            p += n;
        } else if (n < 0 && errno != EINTR) {
            error_ = errno;
        }
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return error_ == 0;
}

StoreMessages::StoreMessages() {
    std::fflush(stderr);
    file_ = ::memfd_create("scsi-timeouts-store-messages", MFD_CLOEXEC);
    saved_ = file_ >= 0 ? ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1;
    if (saved_ < 0 || ::dup2(file_, STDERR_FILENO) < 0) {
        stop(false);  // nothing collected: the store speaks for itself
    }
}

StoreMessages::~StoreMessages() {
    stop(true);
}

void StoreMessages::stop(bool pass_on) {
    if (saved_ >= 0) {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
        if (pass_on) {
            char buffer[4096];
            ssize_t n = 0;
            ::lseek(file_, 0, SEEK_SET);
            while ((n = ::read(file_, buffer, sizeof buffer)) > 0) {
                static_cast<void>(!::write(STDERR_FILENO, buffer, static_cast<std::size_t>(n)));
            }
        }
    }
    if (file_ >= 0 && pass_on) {
        ::close(file_);
        file_ = -1;
    }
}

std::string StoreMessages::take() {
    stop(false);
    std::string text;
    if (file_ >= 0) {
        char buffer[4096];
        ssize_t n = 0;
        ::lseek(file_, 0, SEEK_SET);
        while ((n = ::read(file_, buffer, sizeof buffer)) > 0 &&
               text.size() < std::size_t{64} * 1024) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(file_);
        file_ = -1;
    }
    std::string line;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            line += line.empty() || line.back() == ' ' ? "" : "; ";
        } else {
            line += c;
        }
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == ';')) {
        line.pop_back();
    }
    return line;
}

int usageError(std::ostream& err, const std::string& message) {
    err << "scsi-timeouts: " << terminalSafe(message) << "; see 'scsi-timeouts --help'\n";
    return exit_usage;
}

int storeFailed(std::ostream& err, const char* what, const std::string& store_said) {
    std::string line = what;
    if (!store_said.empty() && line.find(store_said) == std::string::npos) {
        line += " (" + store_said + ")";
    }
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';  // one line, whatever the store put in its message
        }
    }
    err << "scsi-timeouts: the platform store failed: " << terminalSafe(line) << '\n';
    return exit_usage;
}

namespace {

const char tool_help[] =
    "Usage: scsi-timeouts show [--json] [NAME...]\n"
    "       scsi-timeouts check [--json]\n"
    "       scsi-timeouts set [--dry-run] NAME DURATION\n"
    "       scsi-timeouts reset [--dry-run] NAME\n"
    "       scsi-timeouts advise [--json] [--this-host] [--device /dev/sgN]... [--devices]\n"
    "                            [--journal[=PATH]]... [--since TIME] [--boot [N]]\n"
    "                            [--drive-report FILE]... [--kernel-log FILE]...\n"
    "                            [--apply [--dry-run]]\n"
    "       scsi-timeouts export [--json]\n"
    "       scsi-timeouts apply [--check] [--diff] [--exclusive] [--json] PROFILE\n"
    "       scsi-timeouts --help | --version\n"
    "Shows the SCSI timeouts that the registry key \"ScsiTimeouts\" puts in force, checks its\n"
    "values, and changes one value safely.\n"
    "\n"
    "Commands:\n"
    "  show    the timeout of each operation code, the value that decides it, its command\n"
    "  check   every value the load reads, what it gives, and what the load would rewrite\n"
    "  set     write a value's timeout, then read it back in a new process\n"
    "  reset   put a value back to its built-in behaviour\n"
    "  advise  propose values to set from the drives' own timeouts and the kernel log\n"
    "  export  write the values the registry holds as a profile\n"
    "  apply   make the registry hold a profile (PROFILE '-': standard input)\n"
    "\n"
    "A NAME is DEFAULT, a named command (REWIND), CDB_xx, an operation code (0x92, 7 or 146;\n"
    "two digits such as 92 are refused: write 0x92 for the byte the kernel prints) or a SCSI\n"
    "command name (\"LOCATE(16)\", locate16, or the kernel's \"Lock/unlock cache(16)\"), in\n"
    "any case. A change takes effect in processes started after it; set, reset, apply and\n"
    "advise --apply log each value they change through syslog (ident scsi-timeouts). Options\n"
    "may stand anywhere; '--' ends them.\n"
    "Exit status: 0 done (check: nothing to repair, no warning); 1 check found something,\n"
    "advise proposed values, or apply changed values;\n"
    "2 usage error, a failing platform store, a write that a new process does not read back,\n"
    "or a write error on standard output (one line on standard error).\n"
    "'scsi-timeouts COMMAND --help' describes a command.\n";

const char show_help[] =
    "Usage: scsi-timeouts show [--json] [NAME...]\n"
    "Prints, for each operation code (all 256, or those the NAMEs mean: an operation code\n"
    "0x.., a value name, or a SCSI command name; DEFAULT means the codes it decides), the\n"
    "timeout in seconds that the next process's first lookup will use, the\n"
    "registry value that decides it (a command name, CDB_xx or DEFAULT), its stored text and\n"
    "the SCSI command. --json prints {\"table\": [{\"opcode\", \"timeout\", \"source\",\n"
    "\"stored\", \"command\"}, ...]}.\n"
    "Exit status 0 once the table is printed, whatever the registry holds; see 'check'.\n";

const char check_help[] =
    "Usage: scsi-timeouts check [--json]\n"
    "Prints every value under \"ScsiTimeouts\" in the order the load reads it: DEFAULT,\n"
    "CDB_00 to CDB_FF, then the named commands. For each: the stored text, the timeout it\n"
    "gives, the marker the next load will write over it, why, and warnings about numbers the\n"
    "library reads differently from how they look (\"1 800\" is 1, \"1,800\" is 1, \"1e2\" is 1,\n"
    "\"30m\" is 30, \"0600\" is octal 384), and per-code values of named commands, which are\n"
    "never used. Then values under names the library never reads (\"Rewind\", \"cdb_92\").\n"
    "The first line names the store. --json prints {\"store\", \"install_entry\", \"values\": "
    "[{\"name\", \"stored\", \"timeout\",\n"
    "\"repair\", \"reason\", \"warnings\"}, ...], \"misspelled\": [{\"name\", \"stored\",\n"
    "\"meant\"}, ...]}.\n"
    "Exit status: 0 nothing to repair and no warning, 1 findings.\n";

const char set_help[] =
    "Usage: scsi-timeouts set [--dry-run] NAME DURATION\n"
    "Writes the value that NAME means as plain seconds, then reads it back in a new process\n"
    "with the library's own reader. DURATION is whole seconds (900) or numbers with units\n"
    "s, m, h, d (90s, 15m, 1h30m, 1d), 1 second to 1 day; digits are decimal. --dry-run\n"
    "prints what would be written and writes nothing. Processes started after the change\n"
    "use it. The first line names the store. Exit status 0 done, 2 refused or not stored\n"
    "as asked.\n";

const char reset_help[] =
    "Usage: scsi-timeouts reset [--dry-run] NAME\n"
    "Puts the value that NAME means back to its built-in behaviour: DEFAULT and the named\n"
    "commands get the marker of their built-in default (*1800*), a CDB_xx value an empty text\n"
    "(it then reads as no value; so is a CDB_xx of a named command cleared, which the load\n"
    "never uses). Nothing is written when the value holds that already; what is written is\n"
    "read back in a new process. --dry-run prints what would be written and writes nothing.\n"
    "The first line names the store. Exit status 0 done, 2 refused or not stored as asked.\n";

bool hasFindings(const RegistryReport& report, const std::vector<Misspelled>& misspelled) {
    return !misspelled.empty() ||
           std::any_of(std::begin(report.values), std::end(report.values),
                       [](const ValueReport& v) { return v.repaired || v.warnings != 0; });
}

// What the user typed, on one line.
std::string echo(const std::string& text) {
    return quoted(text.c_str());
}

// "0", "-1", "+2": a boot, as journalctl counts them.
bool isBootNumber(const char* text) {
    std::string t = text;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        t.erase(0, 1);
    }
    return !t.empty() && t.size() <= 6 && t.find_first_not_of("0123456789") == std::string::npos;
}

enum : int {
    opt_version = 256,
    opt_json,
    opt_dry_run,
    opt_apply,
    opt_drive,
    opt_log,
    opt_journal,
    opt_since,
    opt_boot,
    opt_device,
    opt_devices,
    opt_this_host,
    opt_check,
    opt_diff,
    opt_exclusive,
};

// advise's options for the host's own evidence. Returns an empty text, or the usage error.
std::string hostOption(int c, Arguments& args, int argc, char** argv) {
    switch (c) {
        case opt_journal:
            args.journals.emplace_back(optarg != nullptr ? optarg : "");
            break;
        case opt_since:
            args.since = optarg;
            args.since_set = true;
            break;
        case opt_boot:
            // "--boot -1" as journalctl takes it: a number after it is its N.
            if (optarg == nullptr && optind < argc && isBootNumber(argv[optind])) {
                optarg = argv[optind++];
            }
            if (optarg != nullptr && !isBootNumber(optarg)) {
                return "--boot takes a number of boots (0 the current boot, -1 the one "
                       "before), not " +
                       echo(optarg);
            }
            args.boot_set = true;
            args.boot = optarg != nullptr ? static_cast<int>(std::strtol(optarg, nullptr, 10)) : 0;
            break;
        case opt_device:
            args.devices.emplace_back(optarg);
            break;
        case opt_devices:
            args.all_devices = true;
            break;
        case opt_this_host:
            args.this_host = true;
            break;
    }
    return "";
}

// What getopt refused (`optopt`), `given` being the word it stopped at, as one usage error.
std::string optionError(const char* given) {
    if (optopt == 0) {
        return "unknown option " + echo(given);
    }
    if (optopt == opt_drive || optopt == opt_log) {
        return "option " + echo(given) + " needs a FILE ('-': standard input)";
    }
    if (optopt == opt_since) {
        return "option '--since' needs a TIME ('2026-12-10 03:50:00', '-7d')";
    }
    if (optopt == opt_device) {
        return "option '--device' needs a SCSI generic node (/dev/sgN)";
    }
    if (optopt >= 256 || optopt == 'h') {  // "--json=yes"
        const std::string option = given;
        return "option " + echo(option.substr(0, option.find('='))) + " takes no value";
    }
    if (std::isdigit(optopt) != 0) {
        return "a number has no sign; put '--' before operands that start with '-'";
    }
    return "unknown option " + echo(std::string("-") + static_cast<char>(optopt));
}

// GNU conventions: options anywhere among the operands, "--" ends them, long options may be
// abbreviated. Returns an empty text, or the usage error.
std::string parseArguments(int argc, char** argv, Arguments& args) {
    static const option long_options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, opt_version},
        {"json", no_argument, nullptr, opt_json},
        {"dry-run", no_argument, nullptr, opt_dry_run},
        {"apply", no_argument, nullptr, opt_apply},
        {"drive-report", required_argument, nullptr, opt_drive},
        {"kernel-log", required_argument, nullptr, opt_log},
        {"journal", optional_argument, nullptr, opt_journal},
        {"since", required_argument, nullptr, opt_since},
        {"boot", optional_argument, nullptr, opt_boot},
        {"device", required_argument, nullptr, opt_device},
        {"devices", no_argument, nullptr, opt_devices},
        {"this-host", no_argument, nullptr, opt_this_host},
        {"check", no_argument, nullptr, opt_check},
        {"diff", no_argument, nullptr, opt_diff},
        {"exclusive", no_argument, nullptr, opt_exclusive},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0;  // a fresh scan for every call
    opterr = 0;  // the messages are ours, one line each
    // A leading '-' hands back operands in place, so their order is kept whatever the
    // environment asks of getopt.
    for (;;) {
        const int c = getopt_long(argc, argv, "-h", long_options, nullptr);
        if (c == -1) {
            break;
        }
        switch (c) {
            case 1:
                args.operands.emplace_back(optarg);
                break;
            case 'h':
                args.help = true;
                break;
            case opt_version:
                args.version = true;
                break;
            case opt_json:
                args.json = true;
                break;
            case opt_dry_run:
                args.dry_run = true;
                break;
            case opt_apply:
                args.apply = true;
                break;
            case opt_drive:
                args.drive_reports.emplace_back(optarg);
                break;
            case opt_log:
                args.kernel_logs.emplace_back(optarg);
                break;
            case opt_journal:
            case opt_since:
            case opt_boot:
            case opt_device:
            case opt_devices:
            case opt_this_host:
                if (std::string refused = hostOption(c, args, argc, argv); !refused.empty()) {
                    return refused;
                }
                break;
            case opt_check:
                args.check = true;
                break;
            case opt_diff:
                args.diff = true;
                break;
            case opt_exclusive:
                args.exclusive = true;
                break;
            default:
                return optionError(argv[optind - 1]);
        }
    }
    for (int i = optind; i < argc; ++i) {
        args.operands.emplace_back(argv[i]);
    }
    return "";
}

}  // namespace

bool readStore(std::ostream& err, int& status, RegistryReport& report,
               std::vector<Misspelled>* misspelled) {
    return withStore(err, status, [&] {
        QrPlatformInfo info;
        readRegistry(info, report);
        if (misspelled != nullptr) {
            *misspelled = readMisspellings(info, report);
        }
    });
}

namespace {

int runShow(const Arguments& args, Streams io) {
    std::vector<int> wanted;  // opcodes; -1: those DEFAULT decides
    std::string notes;        // what the kernel's names stand for
    for (std::size_t i = 1; i < args.operands.size(); ++i) {
        const ValueName name = resolveName(args.operands[i].c_str());
        if (name.error != NameError::None) {
            return usageError(io.err, nameErrorText(args.operands[i].c_str(), name));
        }
        wanted.push_back(name.opcode);
        const std::string note = kernelNote(name);
        notes += note.empty() || notes.find(note) != std::string::npos ? "" : note + "\n";
    }
    const auto report = std::make_unique<RegistryReport>();
    int status = exit_clean;
    if (!readStore(io.err, status, *report)) {
        return status;
    }
    std::vector<unsigned char> opcodes;
    for (int code = 0; code < 256; ++code) {
        if (wanted.empty() || report->decided_by[code] == qst::default_position) {
            opcodes.push_back(static_cast<unsigned char>(code));
        }
    }
    if (!wanted.empty()) {
        std::vector<unsigned char> by_default = std::move(opcodes);
        opcodes.clear();
        for (const int code : wanted) {
            if (code >= 0) {
                opcodes.push_back(static_cast<unsigned char>(code));
            } else {
                opcodes.insert(opcodes.end(), by_default.begin(), by_default.end());
            }
        }
    }
    if (args.json) {
        showJson(io.out, *report, opcodes);
    } else {
        showText(io.out << notes, *report, opcodes);
    }
    return exit_clean;
}

int runCheck(const Arguments& args, Streams io) {
    if (args.operands.size() > 1) {
        return usageError(io.err, "check takes no operands: " + echo(args.operands[1]));
    }
    const auto report = std::make_unique<RegistryReport>();
    std::vector<Misspelled> misspelled;
    int status = exit_clean;
    if (!readStore(io.err, status, *report, &misspelled)) {
        return status;
    }
    args.json ? checkJson(io.out, *report, misspelled) : checkText(io.out, *report, misspelled);
    return hasFindings(*report, misspelled) ? exit_findings : exit_clean;
}

}  // namespace

std::string writeError(const std::ostream& out) {
    const auto* fd = dynamic_cast<const FdOutput*>(out.rdbuf());
    const int error = fd != nullptr ? fd->error() : 0;
    return std::string("write error on standard output") +
           (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
}

namespace {

struct Command {
    const char* name;
    const char* help;
    bool json;      // takes --json
    bool dry_run;   // takes --dry-run
    bool evidence;  // takes --apply and the evidence's options
    bool profile;   // takes --check, --diff and --exclusive
    int (*run)(const Arguments& args, Streams io);
};

int runSet(const Arguments& args, Streams io) {
    return runWrite(args, true, io);
}

int runReset(const Arguments& args, Streams io) {
    return runWrite(args, false, io);
}

constexpr Command commands[] = {
    {"show", show_help, true, false, false, false, runShow},
    {"check", check_help, true, false, false, false, runCheck},
    {"set", set_help, false, true, false, false, runSet},
    {"reset", reset_help, false, true, false, false, runReset},
    {"advise", advise_help, true, true, true, false, runAdvise},
    {"export", export_help, true, false, false, false, runExport},
    {"apply", apply_help, true, false, false, true, runApply},
};

// An option the chosen command does not take, or an empty text.
std::string refusedOption(const Command& chosen, const Arguments& args) {
    const std::string command = chosen.name;
    if (args.json && !chosen.json) {
        return command + " takes no --json";
    }
    if (args.dry_run && !chosen.dry_run) {
        return command + (chosen.profile ? " takes no --dry-run: --check writes nothing"
                                         : " takes no --dry-run: it never writes");
    }
    if ((args.apply || !args.drive_reports.empty() || !args.kernel_logs.empty() ||
         !args.journals.empty() || args.since_set || args.boot_set || !args.devices.empty() ||
         args.all_devices || args.this_host) &&
        !chosen.evidence) {
        return command +
               " takes none of advise's options (--apply, --drive-report, --kernel-log, "
               "--journal, --since, --boot, --device, --devices, --this-host)";
    }
    if ((args.check || args.diff || args.exclusive) && !chosen.profile) {
        return command + " takes no --check, --diff or --exclusive";
    }
    return "";
}

// Hidden: the shell's completion asks the tool for its names, so that it never lags behind.
int listNames(std::ostream& out) {
    for (const std::string& name : listedNames()) {
        out << name << '\n';
    }
    return out.flush() ? exit_clean : exit_usage;
}

}  // namespace

int runTool(int argc, char** argv, std::ostream& out, std::ostream& err, ReadBack read_back) {
    const Streams io{out, err};
    // Hidden, and only alone: the names for the shell's completion, and the answer to a
    // read-back that set or reset started. Neither may ride along with a command.
    if (argc == 2 && std::string(argv[1]) == "--list-names") {
        return listNames(out);
    }
    if (argc == 2 && std::string(argv[1]) == "--read-back") {
        return answerReadBack(STDOUT_FILENO);
    }
    Arguments args;
    args.how_to_read_back = read_back;
    const std::string error = parseArguments(argc, argv, args);
    if (!error.empty()) {
        return usageError(err, error);
    }
    const std::string command = args.operands.empty() ? "" : args.operands[0];
    const Command* chosen = nullptr;
    for (const Command& c : commands) {
        if (command == c.name) {
            chosen = &c;
        }
    }
    if (!command.empty() && chosen == nullptr) {
        return usageError(err, "unknown command " + echo(command));
    }
    int status = exit_clean;
    if (args.help) {
        out << (chosen != nullptr ? chosen->help : tool_help);
    } else if (args.version) {
        out << "scsi-timeouts " << QR_SCSI_TIMEOUTS_VERSION << '\n';
    } else if (chosen == nullptr) {
        return usageError(err, "no command given");
    } else if (const std::string refused = refusedOption(*chosen, args); !refused.empty()) {
        return usageError(err, refused);
    } else {
        setAuditCommand(command + (args.apply ? " --apply" : ""));
        status = chosen->run(args, io);
    }
    // A command that failed has said so in its one line.
    if (status != exit_usage && !out.flush()) {
        err << "scsi-timeouts: " << writeError(out) << '\n';
        return exit_usage;
    }
    return status;
}

}  // namespace scsi_timeouts_tool
