// The command line of scsi-timeouts: argument handling, the text and JSON views, exit status.
#include <QrPlatformInfo.h>
#include <getopt.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "scsi_timeouts_tool.h"

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
    "Usage: scsi-timeouts show [--json] [OPCODE...]\n"
    "       scsi-timeouts check [--json]\n"
    "       scsi-timeouts --help | --version\n"
    "Shows the SCSI timeouts that the registry key \"ScsiTimeouts\" puts in force, and checks\n"
    "its values, without changing the registry.\n"
    "\n"
    "Commands:\n"
    "  show    the table that the next process's first lookup builds\n"
    "  check   every value the load reads, what it gives, and what the load would rewrite\n"
    "\n"
    "Options may stand anywhere; '--' ends them.\n"
    "Exit status: show 0; check 0 when nothing would be repaired and nothing is warned about,\n"
    "1 when something would be repaired or is warned about; 2 for a usage error or a failing\n"
    "platform store (one line on standard error).\n"
    "'scsi-timeouts COMMAND --help' describes a command.\n";

const char show_help[] =
    "Usage: scsi-timeouts show [--json] [OPCODE...]\n"
    "Prints, for each operation code (all 256, or those given in hex 0x.., octal 0.. or\n"
    "decimal, 0 to 255), the timeout in seconds that the next process's first lookup will use,\n"
    "the registry value that decides it (a command name, CDB_xx or DEFAULT) and its stored\n"
    "text. --json prints {\"table\": [{\"opcode\", \"timeout\", \"source\", \"stored\"}, ...]}.\n"
    "Exit status 0 once the table is printed, whatever the registry holds; see 'check'.\n";

const char check_help[] =
    "Usage: scsi-timeouts check [--json]\n"
    "Prints every value under \"ScsiTimeouts\" in the order the load reads it: DEFAULT,\n"
    "CDB_00 to CDB_FF, then the named commands. For each: the stored text, the timeout it\n"
    "gives, the marker the next load will write over it, why, and warnings about numbers the\n"
    "library reads differently from how they look (\"1 800\" is 1, \"1,800\" is 1, \"1e2\" is 1).\n"
    "--json prints {\"install_entry\", \"values\": [{\"name\", \"stored\", \"timeout\",\n"
    "\"repair\", \"reason\", \"warnings\"}, ...]}.\n"
    "Exit status: 0 nothing to repair and no warning, 1 findings.\n";

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
Json storedJson(const ValueReport& v) {
    if (!v.found) {
        return nullptr;
    }
    Json text = std::string(v.stored);
    try {
        static_cast<void>(text.dump());  // refuses what is not well-formed UTF-8
        return text;
    } catch (const Json::type_error&) {
        Json bytes = Json::array();
        for (const char* p = v.stored; *p != '\0'; ++p) {
            bytes.push_back(static_cast<unsigned char>(*p));
        }
        return bytes;
    }
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

bool hasFindings(const RegistryReport& report) {
    for (const ValueReport& v : report.values) {
        if (v.repaired || v.warnings != 0) {
            return true;
        }
    }
    return false;
}

void showText(std::ostream& out, const RegistryReport& report,
              const std::vector<unsigned char>& opcodes) {
    out << format("%-6s  %7s  %-39s  %s\n", "OPCODE", "TIMEOUT", "SOURCE", "STORED");
    for (const unsigned char opcode : opcodes) {
        const ValueReport& v = sourceValue(report, opcode);
        out << format("0x%02X    %7d  %-39s  %s\n", opcode, static_cast<int>(report.table[opcode]),
                      v.name, quoted(v).c_str());
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
                         {"stored", storedJson(v)}});
    }
    out << Json{{"table", table}}.dump(2) << '\n';
}

void checkText(std::ostream& out, const RegistryReport& report) {
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
        const char* reason = reasonText(v.decision.verdict);
        std::string timeout = "-";
        if (v.decision.timeout > 0) {
            timeout = std::to_string(v.decision.timeout);
        }
        std::snprintf(marker, sizeof marker, "-");
        if (v.repaired) {
            qst::formatMarker(marker, v.def);
            ++repairs;
        }
        out << format("%-39s  %7s  %-9s  ", v.name, timeout.c_str(), marker) << quoted(v);
        if (reason != nullptr && v.found) {
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
    out << qst::value_count << " values read; the next load repairs " << repairs << "; " << warnings
        << (warnings == 1 ? " warning" : " warnings") << '\n';
}

void checkJson(std::ostream& out, const RegistryReport& report) {
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
                          {"reason", textOrNull(reasonText(v.decision.verdict))},
                          {"warnings", warnings}});
    }
    out << Json{{"install_entry", report.install_entry}, {"values", values}}.dump(2) << '\n';
}

// 0..255 in hex (0x), octal (leading 0) or decimal; no sign, no white space, nothing after.
bool parseOpcode(const char* text, unsigned char& opcode) {
    if (!std::isdigit(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (*end != '\0' || value > 0xFF) {
        return false;
    }
    opcode = static_cast<unsigned char>(value);
    return true;
}

// What the user typed, on one line.
std::string echo(const std::string& text) {
    return quoted(text.c_str());
}

int usageError(std::ostream& err, const std::string& message) {
    err << "scsi-timeouts: " << message << "; see 'scsi-timeouts --help'\n";
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
    std::vector<std::string> operands;  // the command first
};

// GNU conventions: options anywhere among the operands, "--" ends them, long options may be
// abbreviated. Returns an empty text, or the usage error.
std::string parseArguments(int argc, char** argv, Arguments& args) {
    enum : int { opt_version = 256, opt_json };
    static const option long_options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, opt_version},
        {"json", no_argument, nullptr, opt_json},
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

int runShowOrCheck(const Arguments& args, bool show, std::ostream& out, std::ostream& err) {
    std::vector<unsigned char> opcodes;
    for (std::size_t i = 1; i < args.operands.size(); ++i) {
        const std::string& operand = args.operands[i];
        unsigned char opcode = 0;
        if (!show) {
            return usageError(err, "check takes no operands: " + echo(operand));
        }
        if (!parseOpcode(operand.c_str(), opcode)) {
            return usageError(err, "not an operation code (0 to 255): " + echo(operand));
        }
        opcodes.push_back(opcode);
    }
    if (show && opcodes.empty()) {
        for (int i = 0; i < 256; ++i) {
            opcodes.push_back(static_cast<unsigned char>(i));
        }
    }

    const auto report = std::make_unique<RegistryReport>();
    try {
        QrPlatformInfo info;
        readRegistry(info, *report);
    } catch (const std::exception& e) {
        return storeFailed(err, e.what());
    } catch (...) {
        return storeFailed(err, "unknown exception");
    }

    if (show) {
        args.json ? showJson(out, *report, opcodes) : showText(out, *report, opcodes);
        return exit_clean;
    }
    args.json ? checkJson(out, *report) : checkText(out, *report);
    return hasFindings(*report) ? exit_findings : exit_clean;
}

}  // namespace

int runTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Arguments args;
    const std::string error = parseArguments(argc, argv, args);
    if (!error.empty()) {
        return usageError(err, error);
    }
    const std::string command = args.operands.empty() ? "" : args.operands[0];
    const bool show = command == "show";
    if (!command.empty() && !show && command != "check") {
        return usageError(err, "unknown command " + echo(command));
    }
    int status = exit_clean;
    if (args.help) {
        out << (show ? show_help : command.empty() ? tool_help : check_help);
    } else if (args.version) {
        out << "scsi-timeouts " << QR_SCSI_TIMEOUTS_VERSION << '\n';
    } else if (command.empty()) {
        return usageError(err, "no command given");
    } else {
        status = runShowOrCheck(args, show, out, err);
    }
    if (!out.flush()) {
        err << "scsi-timeouts: cannot write the report\n";
        return exit_usage;
    }
    return status;
}

}  // namespace scsi_timeouts_tool
