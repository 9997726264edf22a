#include <algorithm>
#include <cstdio>
#include <ostream>

#include "advice_views.h"
#include "scsi_commands.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

const char logging_advice[] =
    "to have the next one named, switch on the SCSI mid-layer's completion logging: "
    "scsi_logging_level -s --mlcomplete 1 (sg3-utils), or sysctl -w "
    "dev.scsi.logging_level=4096";

namespace {

std::string commandOf(const Advice& a) {
    const char* name = commandName(a.opcode);
    return name != nullptr ? name : "-";
}

// Why, in words: the drive file, the log events.
std::string why(const Advice& a, const Evidence& ev) {
    std::string out;
    if (a.drive >= 0) {
        out = (ev.drive_devices[a.drive] >= 0
                   ? "device " + ev.drive_files[a.drive]
                   : "drive report " + quoted(ev.drive_files[a.drive].c_str())) +
              " asks " + std::to_string(a.drive_asks) + " s";
    }
    const CodeEvidence& log = ev.log.codes[a.opcode];
    if (log.events > 0) {
        const LogEvent& cited = citedEvent(log, a);
        out += out.empty() ? "" : "; ";
        out += "kernel log: " + std::to_string(log.events) +
               (log.events == 1 ? " timeout" : " timeouts") + ", longest expired " +
               secondsText(a.expired_ms) +
               (log.some_printed_none && a.expired_ms == int64_t{a.in_force} * 1000
                    ? " (the timeout in force)"
                    : "") +
               " (" + quoted(ev.log_files[cited.file].c_str()) +
               (cited.cursor.empty() ? " line " : " entry ") + std::to_string(cited.line) + ", " +
               quoted(cited.device.c_str()) + ")";
    }
    return out;
}

void unnamedText(std::ostream& out, const Evidence& ev) {
    out << "unnamed timeouts (the log does not say which command):\n";
    for (const UnnamedTimeout& u : ev.log.unnamed_examples) {
        out << "  " << quoted(u.device.c_str()) << "  " << quoted(ev.log_files[u.file].c_str())
            << (u.cursor.empty() ? " line " : " entry ") << u.line << ": " << quoted(u.text.c_str())
            << '\n';
    }
    if (ev.log.unnamed > ev.log.unnamed_examples.size()) {
        out << "  ... and " << ev.log.unnamed - ev.log.unnamed_examples.size() << " more\n";
    }
    out << "  " << logging_advice << '\n';
}

}  // namespace

void adviceText(std::ostream& out, const Evidence& ev, const std::vector<Advice>& advice,
                const std::vector<Remark>& warnings) {
    for (const Remark& w : warnings) {
        out << "warning: " << w.shown << '\n';
    }
    for (const Advice& a : advice) {
        char head[64];
        std::snprintf(head, sizeof head, "0x%02X  ", a.opcode);
        out << head << commandOf(a) << "  " << a.value.value << "  in force " << a.in_force
            << " s (" << a.in_force_from->name << ")  ";
        if (isProposal(a)) {
            const std::vector<std::string> set = setCommand(a);
            out << "proposed " << a.proposed << " s: " << set[0] << ' ' << set[1] << ' ' << set[2]
                << ' ' << set[3];
        } else {
            out << "enough, nothing proposed";
        }
        out << "  (" << why(a, ev) << ")\n";
        for (const Remark& note : a.notes) {
            out << "  note: " << note.shown << '\n';
        }
    }
    if (ev.log.unnamed > 0) {
        unnamedText(out, ev);
    }
    const auto proposals = std::count_if(advice.begin(), advice.end(), isProposal);
    const auto count = [](uint64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    out << count(ev.log.lines, "log line", "log lines")
        << (ev.journals > 0 ? ", " + count(ev.journal_entries, "journal entry", "journal entries")
                            : std::string())
        << " read, " << count(ev.log.events, "timeout event", "timeout events") << ", "
        << ev.log.unnamed << " unnamed; "
        << count(ev.drives.size(), "drive report", "drive reports") << "; "
        << count(static_cast<uint64_t>(proposals), "proposal", "proposals") << '\n';
}

}  // namespace scsi_timeouts_tool
