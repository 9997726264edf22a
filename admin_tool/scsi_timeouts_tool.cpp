// The command line of scsi-timeouts: its arguments, the commands that only read, exit status.
#include <QrPlatformInfo.h>
#include <unistd.h>

#include <algorithm>
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
#include "help_texts.h"
#include "profile/commands.h"
#include "scsi_timeouts_tool.h"
#include "terminal_text.h"
#include "value_names.h"
#include "views.h"

#ifndef QR_SCSI_TIMEOUTS_VERSION
#define QR_SCSI_TIMEOUTS_VERSION "unknown"
#endif

namespace scsi_timeouts_tool {

namespace {

bool hasFindings(const RegistryReport& report, const std::vector<Misspelled>& misspelled) {
    return !misspelled.empty() ||
           std::any_of(std::begin(report.values), std::end(report.values),
                       [](const ValueReport& v) { return v.repaired || v.warnings != 0; });
}

// What the user typed, on one line.
std::string echo(const std::string& text) {
    return quoted(text.c_str());
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
