// scsi-timeouts' command line, read as GNU does: options anywhere among the operands, "--"
// ends them, long options may be abbreviated. It only records what was asked.
#include <getopt.h>

#include <cctype>
#include <string>

#include "command_line.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

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

}  // namespace

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

}  // namespace scsi_timeouts_tool
