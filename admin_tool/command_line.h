// What the commands of scsi-timeouts share: their arguments, where they report, how they fail.
#pragma once

#include <exception>
#include <ostream>
#include <string>
#include <vector>

namespace scsi_timeouts_tool {

constexpr int exit_clean = 0;
constexpr int exit_findings = 1;
constexpr int exit_usage = 2;  // also a failing store, and a write that did not read back

struct Arguments {
    bool help = false;
    bool version = false;
    bool json = false;
    bool dry_run = false;
    bool apply = false;                      // advise
    std::vector<std::string> drive_reports;  // advise: --drive-report FILE, in order
    std::vector<std::string> kernel_logs;    // advise: --kernel-log FILE, in order
    std::vector<std::string> operands;       // the command first
};

// The report and the complaints, kept together so that they cannot change places.
struct Streams {
    std::ostream& out;
    std::ostream& err;
};

// One line on `err`, pointing to --help. Returns exit_usage.
int usageError(std::ostream& err, const std::string& message);

// One line on `err`, whatever the store put in its message. Returns exit_usage.
int storeFailed(std::ostream& err, const char* what);

// Runs `action` on the store, turning whatever it throws into the one-line failure and `status`.
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

// set (`set` true) and reset, with the command's operands in `args`.
int runWrite(const Arguments& args, bool set, Streams io);

}  // namespace scsi_timeouts_tool
