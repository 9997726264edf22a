// The command line of scsi-timeouts: argument handling, the text and JSON views, exit status.
#include <QrPlatformInfo.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "scsi_timeouts_tool.h"

#ifndef QR_SCSI_TIMEOUTS_VERSION
#define QR_SCSI_TIMEOUTS_VERSION "unknown"
#endif

namespace scsi_timeouts_tool {

namespace {

constexpr int exit_clean = 0;
constexpr int exit_findings = 1;
constexpr int exit_usage = 2;

const char tool_help[] =
    "Usage: scsi-timeouts show [--json] [OPCODE...]\n"
    "       scsi-timeouts check [--json]\n"
    "Shows the SCSI timeouts that the registry key \"ScsiTimeouts\" puts in force, and checks\n"
    "its values, without changing the registry.\n"
    "\n"
    "Commands:\n"
    "  show    the table that the next process's first lookup builds\n"
    "  check   every value the load reads, what it gives, and what the load would rewrite\n"
    "\n"
    "Exit status: 0 nothing would be repaired and nothing is warned about; 1 something would\n"
    "be repaired or is warned about; 2 usage error, or the platform store failed.\n"
    "'scsi-timeouts COMMAND --help' describes a command.\n";

const char show_help[] =
    "Usage: scsi-timeouts show [--json] [OPCODE...]\n"
    "Prints, for each operation code (all 256, or those given in hex 0x.., octal 0.. or\n"
    "decimal, 0 to 255), the timeout in seconds that the next process's first lookup will use,\n"
    "the registry value that decides it (a command name, CDB_xx or DEFAULT) and its stored\n"
    "text. --json prints {\"table\": [{\"opcode\", \"timeout\", \"source\", \"stored\"}, ...]}.\n"
    "The exit status is that of 'check'.\n";

const char check_help[] =
    "Usage: scsi-timeouts check [--json]\n"
    "Prints every value under \"ScsiTimeouts\" in the order the load reads it: DEFAULT,\n"
    "CDB_00 to CDB_FF, then the named commands. For each: the stored text, the timeout it\n"
    "gives, the marker the next load will write over it, why, and warnings about numbers the\n"
    "library reads differently from how they look (\"1 800\" is 1, \"1,800\" is 1, \"1e2\" is 1).\n"
    "--json prints {\"install_entry\", \"values\": [{\"name\", \"stored\", \"timeout\",\n"
    "\"repair\", \"reason\", \"warnings\"}, ...]}.\n";

int exitStatus(const RegistryReport& report) {
    for (const ValueReport& v : report.values) {
        if (v.repaired || v.warnings != 0) {
            return exit_findings;
        }
    }
    return exit_clean;
}

// Length of the well-formed UTF-8 sequence at p, or 0.
int utf8Length(const unsigned char* p) {
    const int n = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
    }
    // No overlong forms, surrogates or code points beyond U+10FFFF.
    if ((n == 3 && ((p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] >= 0xA0))) ||
        (n == 4 && ((p[0] == 0xF0 && p[1] < 0x90) || (p[0] == 0xF4 && p[1] >= 0x90)))) {
        return 0;
    }
    return n;
}

// JSON text, or null for nullptr. UTF-8 stays as it is; a byte that is not part of well-formed
// UTF-8 stands for itself as U+0080..U+00FF, so any stored bytes give valid JSON.
void putJsonString(const char* text) {
    if (text == nullptr) {
        std::printf("null");
        return;
    }
    std::putchar('"');
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        const int n = *p >= 0x80 ? utf8Length(p) : 0;
        if (n > 0) {
            std::fwrite(p, 1, static_cast<std::size_t>(n), stdout);
            p += n - 1;
        } else if (*p == '"' || *p == '\\') {
            std::printf("\\%c", *p);
        } else if (*p < 0x20 || *p >= 0x7F) {
            std::printf("\\u%04x", *p);
        } else {
            std::putchar(*p);
        }
    }
    std::putchar('"');
}

// Plain text: quoted, with control characters and high bytes escaped, so white space shows.
std::string quoted(const ValueReport& v) {
    if (!v.found) {
        return "absent";
    }
    std::string out = "\"";
    char hex[8];
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(v.stored); *p != 0; ++p) {
        if (*p == '"' || *p == '\\') {
            out += '\\';
            out += static_cast<char>(*p);
        } else if (*p < 0x20 || *p >= 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02X", *p);
            out += hex;
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out + "\"";
}

void showText(const RegistryReport& report, const std::vector<unsigned char>& opcodes) {
    std::printf("%-6s  %7s  %-39s  %s\n", "OPCODE", "TIMEOUT", "SOURCE", "STORED");
    for (const unsigned char opcode : opcodes) {
        const ValueReport& v = sourceValue(report, opcode);
        std::printf("0x%02X    %7d  %-39s  %s\n", opcode, static_cast<int>(report.table[opcode]),
                    v.name, quoted(v).c_str());
    }
}

void showJson(const RegistryReport& report, const std::vector<unsigned char>& opcodes) {
    std::printf("{\"table\": [");
    const char* separator = "";
    for (const unsigned char opcode : opcodes) {
        const ValueReport& v = sourceValue(report, opcode);
        std::printf("%s\n  {\"opcode\": %d, \"timeout\": %d, \"source\": ", separator, opcode,
                    static_cast<int>(report.table[opcode]));
        putJsonString(v.name);
        std::printf(", \"stored\": ");
        putJsonString(v.found ? v.stored : nullptr);
        std::printf("}");
        separator = ",";
    }
    std::printf("\n]}\n");
}

void checkText(const RegistryReport& report) {
    std::printf("install entry vARURAROD under Base: %s\n",
                report.install_entry ? "present, the load repairs values"
                                     : "absent, the load writes nothing");
    std::printf("%-39s  %7s  %-9s  %s\n", "NAME", "TIMEOUT", "REPAIR", "STORED, WHY, WARNINGS");
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
            std::printf("%-6s to %-29s  %7s  %-9s  absent\n", v.name, report.values[last].name, "-",
                        "-");
            i = last;
            continue;
        }
        const char* reason = reasonText(v.decision.verdict);
        char timeout[16] = "-";
        if (v.decision.timeout > 0) {
            std::snprintf(timeout, sizeof timeout, "%d", static_cast<int>(v.decision.timeout));
        }
        std::snprintf(marker, sizeof marker, "-");
        if (v.repaired) {
            qst::formatMarker(marker, v.def);
            ++repairs;
        }
        std::printf("%-39s  %7s  %-9s  %s", v.name, timeout, marker, quoted(v).c_str());
        if (reason != nullptr && v.found) {
            std::printf("  (%s)", reason);
        }
        for (const Warning w : all_warnings) {
            if ((v.warnings & w) != 0) {
                std::printf("  warning: %s", warningText(w));
                ++warnings;
            }
        }
        std::printf("\n");
    }
    std::printf("%d values read; the next load repairs %d; %d warning%s\n", qst::value_count,
                repairs, warnings, warnings == 1 ? "" : "s");
}

void checkJson(const RegistryReport& report) {
    std::printf("{\"install_entry\": %s, \"values\": [", report.install_entry ? "true" : "false");
    const char* separator = "";
    char marker[qst::value_size];
    for (const ValueReport& v : report.values) {
        std::printf("%s\n  {\"name\": ", separator);
        putJsonString(v.name);
        std::printf(", \"stored\": ");
        putJsonString(v.found ? v.stored : nullptr);
        if (v.decision.timeout > 0) {
            std::printf(", \"timeout\": %d", static_cast<int>(v.decision.timeout));
        } else {
            std::printf(", \"timeout\": null");
        }
        std::printf(", \"repair\": ");
        if (v.repaired) {
            qst::formatMarker(marker, v.def);
        }
        putJsonString(v.repaired ? marker : nullptr);
        std::printf(", \"reason\": ");
        putJsonString(reasonText(v.decision.verdict));
        std::printf(", \"warnings\": [");
        const char* comma = "";
        for (const Warning w : all_warnings) {
            if ((v.warnings & w) != 0) {
                std::printf("%s", comma);
                putJsonString(warningText(w));
                comma = ", ";
            }
        }
        std::printf("]}");
        separator = ",";
    }
    std::printf("\n]}\n");
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

int usageError(const char* message, const char* what) {
    std::fprintf(stderr, "scsi-timeouts: %s%s; see 'scsi-timeouts --help'\n", message, what);
    return exit_usage;
}

// One line, whatever the store put in its message.
int storeFailed(const char* what) {
    std::string line = what;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    std::fprintf(stderr, "scsi-timeouts: the platform store failed: %s\n", line.c_str());
    return exit_usage;
}

RegistryReport report;  // large: kept out of the stack

}  // namespace

int runTool(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(tool_help, stderr);
        return exit_usage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::fputs(tool_help, stdout);
        return exit_clean;
    }
    if (command == "--version") {
        std::printf("scsi-timeouts %s\n", QR_SCSI_TIMEOUTS_VERSION);
        return exit_clean;
    }
    const bool show = command == "show";
    if (!show && command != "check") {
        return usageError("unknown command ", argv[1]);
    }

    bool json = false;
    std::vector<unsigned char> opcodes;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        unsigned char opcode = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(show ? show_help : check_help, stdout);
            return exit_clean;
        } else if (arg == "--json") {
            json = true;
        } else if (!arg.empty() && arg[0] == '-' &&
                   !std::isdigit(static_cast<unsigned char>(arg[1]))) {
            return usageError("unknown option ", argv[i]);
        } else if (!show) {
            return usageError("check takes no operation codes: ", argv[i]);
        } else if (!parseOpcode(argv[i], opcode)) {
            return usageError("not an operation code (0 to 255): ", argv[i]);
        } else {
            opcodes.push_back(opcode);
        }
    }
    if (show && opcodes.empty()) {
        for (int i = 0; i < 256; ++i) {
            opcodes.push_back(static_cast<unsigned char>(i));
        }
    }

    try {
        QrPlatformInfo info;
        readRegistry(info, report);
    } catch (const std::exception& e) {
        return storeFailed(e.what());
    } catch (...) {
        return storeFailed("unknown exception");
    }

    if (show) {
        json ? showJson(report, opcodes) : showText(report, opcodes);
    } else {
        json ? checkJson(report) : checkText(report);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "scsi-timeouts: cannot write the report: %s\n", std::strerror(errno));
        return exit_usage;
    }
    return exitStatus(report);
}

}  // namespace scsi_timeouts_tool
