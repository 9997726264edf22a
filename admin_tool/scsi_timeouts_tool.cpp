// The command line of scsi-timeouts: argument handling, the text and JSON views, exit status.
#include <QrPlatformInfo.h>
#include <getopt.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "duration.h"
#include "scsi_commands.h"
#include "scsi_timeouts_tool.h"
#include "value_names.h"

#ifndef QR_SCSI_TIMEOUTS_VERSION
#define QR_SCSI_TIMEOUTS_VERSION "unknown"
#endif

namespace scsi_timeouts_tool {

namespace {

using Json = nlohmann::ordered_json;  // keys in the order they are documented

constexpr int exit_clean = 0;
constexpr int exit_findings = 1;
constexpr int exit_usage = 2;

const char tool_help[] =
    "Usage: scsi-timeouts show [--json] [NAME...]\n"
    "       scsi-timeouts check [--json]\n"
    "       scsi-timeouts set [--dry-run] NAME DURATION\n"
    "       scsi-timeouts reset [--dry-run] NAME\n"
    "       scsi-timeouts --help | --version\n"
    "Shows the SCSI timeouts that the registry key \"ScsiTimeouts\" puts in force, checks its\n"
    "values, and changes one value safely.\n"
    "\n"
    "Commands:\n"
    "  show    the timeout of each operation code, the value that decides it, its command\n"
    "  check   every value the load reads, what it gives, and what the load would rewrite\n"
    "  set     write a value's timeout, then read it back as the library will\n"
    "  reset   put a value back to its built-in behaviour\n"
    "\n"
    "A NAME is DEFAULT, a named command (REWIND), CDB_xx, an operation code (0x92 or 146) or\n"
    "a SCSI command name (\"LOCATE(16)\", locate16), in any case. A change takes effect in\n"
    "processes started after it. Options may stand anywhere; '--' ends them.\n"
    "Exit status: 0 done (check: nothing to repair, no warning); 1 check found something;\n"
    "2 usage error, a failing platform store, or a write that did not read back (one line on\n"
    "standard error).\n"
    "'scsi-timeouts COMMAND --help' describes a command.\n";

const char show_help[] =
    "Usage: scsi-timeouts show [--json] [NAME...]\n"
    "Prints, for each operation code (all 256, or those the NAMEs mean: an operation code in\n"
    "hex 0x.. or decimal, a value name, or a SCSI command name; DEFAULT means the codes it\n"
    "decides), the timeout in seconds that the next process's first lookup will use, the\n"
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
    "\"30m\" is 30). Then values under names the library never reads (\"Rewind\", \"cdb_92\").\n"
    "--json prints {\"install_entry\", \"values\": [{\"name\", \"stored\", \"timeout\",\n"
    "\"repair\", \"reason\", \"warnings\"}, ...], \"misspelled\": [{\"name\", \"stored\",\n"
    "\"meant\"}, ...]}.\n"
    "Exit status: 0 nothing to repair and no warning, 1 findings.\n";

const char set_help[] =
    "Usage: scsi-timeouts set [--dry-run] NAME DURATION\n"
    "Writes the value that NAME means as plain seconds, then reads it back through a fresh\n"
    "store object with the library's own reader. DURATION is whole seconds (900) or numbers\n"
    "with units s, m, h, d (90s, 15m, 1h30m, 1d), 1 second to 1 day; digits are decimal.\n"
    "--dry-run prints what would be written and writes nothing. Processes started after the\n"
    "change use it. Exit status 0 done, 2 refused or not stored as asked.\n";

const char reset_help[] =
    "Usage: scsi-timeouts reset [--dry-run] NAME\n"
    "Puts the value that NAME means back to its built-in behaviour: DEFAULT and the named\n"
    "commands get the marker of their built-in default (*1800*), a CDB_xx value an empty text\n"
    "(it then reads as no value). Nothing is written when the value holds that already.\n"
    "--dry-run prints what would be written and writes nothing. Exit status 0 done, 2 refused\n"
    "or not stored as asked.\n";

[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...) {
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    return line;
}

// A stored text as JSON: valid UTF-8 as the string it is, anything else as its byte values, so
// that any stored bytes give valid JSON and different texts never give the same value.
Json storedJson(const char* stored) {
    if (stored == nullptr) {
        return nullptr;
    }
    Json text = std::string(stored);
    try {
        static_cast<void>(text.dump());  // refuses what is not well-formed UTF-8
        return text;
    } catch (const Json::type_error&) {
        Json bytes = Json::array();
        for (const char* p = stored; *p != '\0'; ++p) {
            bytes.push_back(static_cast<unsigned char>(*p));
        }
        return bytes;
    }
}

Json storedJson(const ValueReport& v) {
    return storedJson(v.found ? v.stored : nullptr);
}

Json textOrNull(const char* text) {
    return text != nullptr ? Json(text) : Json(nullptr);
}

// Plain text: quoted, with control characters and high bytes escaped, so white space shows.
std::string quoted(const char* text) {
    std::string out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        if (*p == '"' || *p == '\\') {
            out += '\\';
            out += static_cast<char>(*p);
        } else if (*p < 0x20 || *p >= 0x7F) {
            out += format("\\x%02X", *p);
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out + "\"";
}

std::string quoted(const ValueReport& v) {
    return v.found ? quoted(v.stored) : "absent";
}

bool hasFindings(const RegistryReport& report, const std::vector<Misspelled>& misspelled) {
    if (!misspelled.empty()) {
        return true;
    }
    for (const ValueReport& v : report.values) {
        if (v.repaired || v.warnings != 0) {
            return true;
        }
    }
    return false;
}

void showText(std::ostream& out, const RegistryReport& report,
              const std::vector<unsigned char>& opcodes) {
    out << format("%-6s  %7s  %-39s  %-10s  %s\n", "OPCODE", "TIMEOUT", "SOURCE", "STORED",
                  "COMMAND");
    for (const unsigned char opcode : opcodes) {
        const ValueReport& v = sourceValue(report, opcode);
        const char* command = commandName(opcode);
        std::string line = format("0x%02X    %7d  %-39s  %-10s  %s", opcode,
                                  static_cast<int>(report.table[opcode]), v.name, quoted(v).c_str(),
                                  command != nullptr ? command : "");
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    }
}

void showJson(std::ostream& out, const RegistryReport& report,
              const std::vector<unsigned char>& opcodes) {
    Json table = Json::array();
    for (const unsigned char opcode : opcodes) {
        const ValueReport& v = sourceValue(report, opcode);
        table.push_back({{"opcode", opcode},
                         {"timeout", report.table[opcode]},
                         {"source", v.name},
                         {"stored", storedJson(v)},
                         {"command", textOrNull(commandName(opcode))}});
    }
    out << Json{{"table", table}}.dump(2) << '\n';
}

std::string misspelledText(const Misspelled& m) {
    return "warning: " + quoted(m.name.c_str()) + " = " + quoted(m.stored.c_str()) +
           " is never read: the library reads only the exact name " + m.meant;
}

void checkText(std::ostream& out, const RegistryReport& report,
               const std::vector<Misspelled>& misspelled) {
    out << "install entry vARURAROD under Base: "
        << (report.install_entry ? "present, the load repairs values"
                                 : "absent, the load writes nothing")
        << '\n';
    out << format("%-39s  %7s  %-9s  %s\n", "NAME", "TIMEOUT", "REPAIR", "STORED, WHY, WARNINGS");
    int repairs = 0;
    int warnings = 0;
    char marker[qst::value_size];
    for (int i = 0; i < qst::value_count; ++i) {
        const ValueReport& v = report.values[i];
        // Runs of absent per-code values, the normal case, take one line.
        int last = i;
        while (!report.values[last].found && report.values[last].def <= 0 &&
               last + 1 < qst::value_count && !report.values[last + 1].found &&
               report.values[last + 1].def <= 0) {
            ++last;
        }
        if (last > i) {
            out << format("%-6s to %-29s  %7s  %-9s  absent\n", v.name, report.values[last].name,
                          "-", "-");
            i = last;
            continue;
        }
        const char* reason = shownReason(v);
        std::string timeout = "-";
        if (v.decision.timeout > 0) {
            timeout = std::to_string(v.decision.timeout);
        }
        std::snprintf(marker, sizeof marker, "-");
        if (v.repaired) {
            qst::formatMarker(marker, v.def);
            ++repairs;
        }
        // A per-code value names its command, as the kernel's log does.
        const char* command = v.def <= 0 ? commandName(static_cast<unsigned char>(i - 1)) : nullptr;
        const std::string name =
            command != nullptr ? std::string(v.name) + " " + command : std::string(v.name);
        out << format("%-39s  %7s  %-9s  ", name.c_str(), timeout.c_str(), marker) << quoted(v);
        if (reason != nullptr) {
            out << "  (" << reason << ")";
        }
        for (const Warning w : all_warnings) {
            if ((v.warnings & w) != 0) {
                out << "  warning: " << warningText(w);
                ++warnings;
            }
        }
        out << '\n';
    }
    for (const Misspelled& m : misspelled) {
        out << misspelledText(m) << '\n';
        ++warnings;
    }
    out << qst::value_count << " values read; the next load repairs " << repairs << "; " << warnings
        << (warnings == 1 ? " warning" : " warnings") << '\n';
}

void checkJson(std::ostream& out, const RegistryReport& report,
               const std::vector<Misspelled>& misspelled) {
    Json values = Json::array();
    char marker[qst::value_size];
    for (const ValueReport& v : report.values) {
        Json warnings = Json::array();
        for (const Warning w : all_warnings) {
            if ((v.warnings & w) != 0) {
                warnings.push_back(warningText(w));
            }
        }
        if (v.repaired) {
            qst::formatMarker(marker, v.def);
        }
        values.push_back({{"name", v.name},
                          {"stored", storedJson(v)},
                          {"timeout", v.decision.timeout > 0 ? Json(v.decision.timeout) : Json()},
                          {"repair", textOrNull(v.repaired ? marker : nullptr)},
                          {"reason", textOrNull(shownReason(v))},
                          {"warnings", warnings}});
    }
    Json wrong_names = Json::array();
    for (const Misspelled& m : misspelled) {
        wrong_names.push_back({{"name", storedJson(m.name.c_str())},
                               {"stored", storedJson(m.stored.c_str())},
                               {"meant", m.meant}});
    }
    out << Json{{"install_entry", report.install_entry},
                {"values", values},
                {"misspelled", wrong_names}}
               .dump(2)
        << '\n';
}

// What the user typed, on one line.
std::string echo(const std::string& text) {
    return quoted(text.c_str());
}

int usageError(std::ostream& err, const std::string& message) {
    std::string line;
    for (const char c : message) {
        line += static_cast<unsigned char>(c) < 0x20 ? format("\\x%02X", c) : std::string(1, c);
    }
    err << "scsi-timeouts: " << line << "; see 'scsi-timeouts --help'\n";
    return exit_usage;
}

int storeFailed(std::ostream& err, const char* what) {
    std::string line = what;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';  // one line, whatever the store put in its message
        }
    }
    err << "scsi-timeouts: the platform store failed: " << line << '\n';
    return exit_usage;
}

struct Arguments {
    bool help = false;
    bool version = false;
    bool json = false;
    bool dry_run = false;
    std::vector<std::string> operands;  // the command first
};

// GNU conventions: options anywhere among the operands, "--" ends them, long options may be
// abbreviated. Returns an empty text, or the usage error.
std::string parseArguments(int argc, char** argv, Arguments& args) {
    enum : int { opt_version = 256, opt_json, opt_dry_run };
    static const option long_options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, opt_version},
        {"json", no_argument, nullptr, opt_json},
        {"dry-run", no_argument, nullptr, opt_dry_run},
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
            default:
                if (optopt == 0) {
                    return "unknown option " + echo(argv[optind - 1]);
                }
                if (optopt >= 256 || optopt == 'h') {  // "--json=yes"
                    const std::string given = argv[optind - 1];
                    return "option " + echo(given.substr(0, given.find('='))) + " takes no value";
                }
                if (std::isdigit(optopt) != 0) {
                    return "a number has no sign; put '--' before operands that start with '-'";
                }
                return "unknown option " + echo(std::string("-") + static_cast<char>(optopt));
        }
    }
    for (int i = optind; i < argc; ++i) {
        args.operands.emplace_back(argv[i]);
    }
    return "";
}

// Runs `action` on the store, turning whatever it throws into the one-line failure.
template <typename Action>
bool withStore(std::ostream& err, int& status, Action action) {
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        status = storeFailed(err, e.what());
    } catch (...) {
        status = storeFailed(err, "unknown exception");
    }
    return false;
}

int runShow(const Arguments& args, std::ostream& out, std::ostream& err) {
    std::vector<int> wanted;  // opcodes; -1: those DEFAULT decides
    for (std::size_t i = 1; i < args.operands.size(); ++i) {
        const ValueName name = resolveName(args.operands[i].c_str());
        if (name.error != NameError::None) {
            return usageError(err, nameErrorText(args.operands[i].c_str(), name));
        }
        wanted.push_back(name.opcode);
    }
    const auto report = std::make_unique<RegistryReport>();
    int status = exit_clean;
    if (!withStore(err, status, [&] {
            QrPlatformInfo info;
            readRegistry(info, *report);
        })) {
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
    args.json ? showJson(out, *report, opcodes) : showText(out, *report, opcodes);
    return exit_clean;
}

int runCheck(const Arguments& args, std::ostream& out, std::ostream& err) {
    if (args.operands.size() > 1) {
        return usageError(err, "check takes no operands: " + echo(args.operands[1]));
    }
    const auto report = std::make_unique<RegistryReport>();
    std::vector<Misspelled> misspelled;
    int status = exit_clean;
    if (!withStore(err, status, [&] {
            QrPlatformInfo info;
            readRegistry(info, *report);
            misspelled = readMisspellings(info, *report);
        })) {
        return status;
    }
    args.json ? checkJson(out, *report, misspelled) : checkText(out, *report, misspelled);
    return hasFindings(*report, misspelled) ? exit_findings : exit_clean;
}

// The timeout a value puts in force: its own for DEFAULT, else its code's table entry.
int32_t timeoutOf(const RegistryReport& report, const ValueName& name) {
    return name.opcode < 0 ? report.values[qst::default_position].decision.timeout
                           : report.table[name.opcode];
}

const ValueReport& valueOf(const RegistryReport& report, const ValueName& name) {
    for (const ValueReport& v : report.values) {
        if (std::strcmp(v.name, name.value) == 0) {
            return v;
        }
    }
    return report.values[qst::default_position];  // every name resolves to one of them
}

// set and reset: one value written as the library writes, then read back by a fresh store
// object through the library's own reader and load.
int runWrite(const Arguments& args, bool set, std::ostream& out, std::ostream& err) {
    const std::size_t operands = set ? 3 : 2;
    if (args.operands.size() < operands) {
        return usageError(err, set ? "set needs a NAME and a DURATION" : "reset needs a NAME");
    }
    if (args.operands.size() > operands) {
        return usageError(err, "too many operands: " + echo(args.operands[operands]));
    }
    const ValueName name = resolveName(args.operands[1].c_str());
    if (name.error != NameError::None) {
        return usageError(err, nameErrorText(args.operands[1].c_str(), name));
    }
    Duration duration{DurationError::None, 0};
    if (set) {
        duration = parseDuration(args.operands[2].c_str());
        if (duration.error != DurationError::None) {
            return usageError(err, "not a DURATION: " + echo(args.operands[2]) + ": " +
                                       durationErrorText(duration.error));
        }
    }
    // What the library itself writes: plain seconds, the marker of the built-in default, or
    // nothing at all for a per-code value, which has no default.
    char text[qst::value_size] = "";
    if (set) {
        std::snprintf(text, sizeof text, "%d", static_cast<int>(duration.seconds));
    } else if (name.def > 0) {
        qst::formatMarker(text, name.def);
    }

    const auto before = std::make_unique<RegistryReport>();
    const auto after = std::make_unique<RegistryReport>();
    int status = exit_clean;
    bool unchanged = false;
    std::string refused;
    if (!withStore(err, status, [&] {
            QrPlatformInfo info;
            readRegistry(info, *before);
            const ValueReport& old = valueOf(*before, name);
            unchanged = old.found ? std::strcmp(old.stored, text) == 0 : !set && name.def <= 0;
            if (unchanged || args.dry_run) {
                return;
            }
            if (info.setString(qst::key_name, name.value, text, qst::value_size) == 0) {
                refused = "the platform store refused to write " + std::string(name.value);
            }
        })) {
        return status;
    }
    if (!refused.empty()) {
        err << "scsi-timeouts: " << refused << '\n';
        return exit_usage;
    }
    const ValueReport& old = valueOf(*before, name);
    const std::string line = std::string(name.value) + ": " + quoted(old) + " -> " + quoted(text);
    if (unchanged) {
        out << name.value << ": " << quoted(old) << " already; nothing written\n";
        return exit_clean;
    }
    const int32_t was = timeoutOf(*before, name);
    if (args.dry_run) {
        // DEFAULT's own timeout stands in for a per-code value that gives none.
        const int32_t would = set ? duration.seconds
                              : name.def > 0
                                  ? name.def
                                  : before->values[qst::default_position].decision.timeout;
        out << line << ": " << was << " s -> " << would << " s (dry run: nothing written)\n";
        return exit_clean;
    }

    if (!withStore(err, status, [&] {
            QrPlatformInfo fresh;
            readRegistry(fresh, *after);
        })) {
        return status;
    }
    const ValueReport& now = valueOf(*after, name);
    // A store may drop an emptied per-code value: absent reads the same.
    const bool stuck = now.found ? std::strcmp(now.stored, text) == 0 : !set && name.def <= 0;
    const bool as_asked = set ? now.decision.verdict == qst::Verdict::Clean &&
                                    now.decision.timeout == duration.seconds
                              : shownReason(now) == nullptr && !now.decision.rewrite;
    if (!stuck || !as_asked) {
        err << "scsi-timeouts: " << name.value << " did not read back as written: the store holds "
            << quoted(now) << " now\n";
        return exit_usage;
    }
    out << line << ": " << was << " s -> " << timeoutOf(*after, name) << " s\n";
    return exit_clean;
}

}  // namespace

int runTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Arguments args;
    const std::string error = parseArguments(argc, argv, args);
    if (!error.empty()) {
        return usageError(err, error);
    }
    const std::string command = args.operands.empty() ? "" : args.operands[0];
    struct Command {
        const char* name;
        const char* help;
        bool json;     // takes --json
        bool dry_run;  // takes --dry-run
    };
    static const Command commands[] = {
        {"show", show_help, true, false},
        {"check", check_help, true, false},
        {"set", set_help, false, true},
        {"reset", reset_help, false, true},
    };
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
    } else if (args.json && !chosen->json) {
        return usageError(err, command + " takes no --json");
    } else if (args.dry_run && !chosen->dry_run) {
        return usageError(err, command + " takes no --dry-run: it never writes");
    } else if (command == "show") {
        status = runShow(args, out, err);
    } else if (command == "check") {
        status = runCheck(args, out, err);
    } else {
        status = runWrite(args, command == "set", out, err);
    }
    if (!out.flush()) {
        err << "scsi-timeouts: cannot write the report\n";
        return exit_usage;
    }
    return status;
}

}  // namespace scsi_timeouts_tool
