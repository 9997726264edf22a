#include "evidence_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>

#include "host_evidence.h"
#include "kernel_log_reader.h"
#include "live_host.h"
#include "log_text.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

struct Input {
    std::string file;
    int fd = -1;
};

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

bool readReports(const std::vector<Input>& reports, Evidence& ev, std::ostream& err) {
    for (const Input& in : reports) {
        std::vector<unsigned char> bytes;
        std::string error;
        const std::string name = quoted(in.file.c_str());
        if (!readReport(in.fd, bytes, error)) {
            err << "scsi-timeouts: cannot read " << name << ": " << error << '\n';
            return false;
        }
        DriveReport report = parseDriveReport(bytes.data(), bytes.size());
        if (report.malformed) {
            // The table form names its line in the reason; the binary form, its byte here.
            const bool by_line = report.reason.rfind("line ", 0) == 0;
            err << "scsi-timeouts: " << name << ": "
                << (by_line ? std::string() : "byte " + std::to_string(report.offset) + ": ")
                << "malformed drive report: " << report.reason << "; nothing applied\n";
            return false;
        }
        for (const std::string& w : report.warnings) {
            ev.warnings.push_back(Remark().quote(in.file).say(": " + w));
        }
        ev.drive_files.push_back(in.file);
        ev.drives.push_back(std::move(report));
        ev.drive_devices.push_back(-1);
    }
    return true;
}

bool readLogs(const Arguments& args, const std::vector<Input>& logs, Evidence& ev,
              std::ostream& err) {
    KernelLogReader reader(ev.log);
    bool ok = true;
    for (std::size_t i = 0; ok && i < logs.size(); ++i) {
        std::string error;
        reader.startFile(static_cast<int>(i));
        if (!readKernelLog(logs[i].fd, reader, error)) {
            err << "scsi-timeouts: cannot read " << quoted(logs[i].file.c_str()) << ": " << error
                << '\n';
            ok = false;
        }
        ev.log_files.push_back(logs[i].file);
    }
    if (ok && asksHost(args)) {
        ok = readHostEvidence(args, reader, ev, err);
    }
    reader.finish();
    // Listed by device, in the order each device's were found.
    std::stable_sort(
        ev.log.unnamed_examples.begin(), ev.log.unnamed_examples.end(),
        [](const UnnamedTimeout& a, const UnnamedTimeout& b) { return a.device < b.device; });
    for (const LongLines& l : ev.log.long_lines) {
        ev.warnings.push_back(
            Remark()
                .quote(ev.log_files[l.file])
                .say(": " + std::to_string(l.count) + (l.count == 1 ? " line" : " lines") +
                     " longer than any kernel message (" + std::to_string(max_line) +
                     " bytes) skipped, the first at line " + std::to_string(l.first)));
    }
    if (ev.log.rate_limited) {
        ev.warnings.push_back(Remark().say(
            "the log dropped or folded messages (rate limiting): the counts are lower bounds"));
    }
    return ok;
}

}  // namespace

bool readEvidence(const Arguments& args, Evidence& ev, std::ostream& err, int& status) {
    std::vector<Input> reports;
    std::vector<Input> logs;
    bool stdin_used = false;
    const bool opened = openInputs(args.drive_reports, reports, stdin_used, err, status) &&
                        openInputs(args.kernel_logs, logs, stdin_used, err, status);
    const bool ok = opened && readReports(reports, ev, err) && readLogs(args, logs, ev, err);
    closeInputs(reports);
    closeInputs(logs);
    if (!ok && opened) {
        status = exit_usage;
    }
    return ok;
}

}  // namespace scsi_timeouts_tool
