// advise: the evidence read first and in full (a malformed input stops everything before the
// registry is even read), then the registry as show reads it, then one proposal per code.
#include "advise.h"

#include <algorithm>
#include <memory>
#include <ostream>

#include "advice.h"
#include "advice_views.h"
#include "evidence_files.h"
#include "live_host.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

const char advise_help[] =
    "Usage: scsi-timeouts advise [--json] [--this-host] [--devices] [--device /dev/sgN]...\n"
    "                            [--journal[=PATH]]... [--since TIME] [--boot [N]]\n"
    "                            [--drive-report FILE]... [--kernel-log FILE]...\n"
    "                            [--apply [--dry-run]]\n"
    "Reads the drives' own command timeouts and the kernel's messages, and proposes for each\n"
    "operation code with evidence the value to set, as a command to paste:\n"
    "  scsi-timeouts set CDB_8C 11m\n"
    "On the host itself, --this-host (= --devices --journal --boot 0) asks every tape drive\n"
    "and medium changer and reads this boot's kernel messages from the journal:\n"
    "  --device /dev/sgN  ask that SCSI generic node (not /dev/stN or /dev/nstN) for REPORT\n"
    "                     SUPPORTED OPERATION CODES with its timeouts (60 s per request)\n"
    "  --devices          ask every tape drive and changer in /sys/class/scsi_generic\n"
    "  --journal[=PATH]   the kernel's messages (_TRANSPORT=kernel) of this host's journal, or\n"
    "                     of a journal file or folder copied from another host\n"
    "  --since TIME       from TIME on: 'YYYY-MM-DD HH:MM:SS' (local time), '-7d', 'today'\n"
    "  --boot [N]         of one boot: 0 the current (or a copy's last), -1 the one before\n"
    "The devices need read-write access to /dev/sgN (usually group tape, or root); the\n"
    "journal needs group systemd-journal or adm, or root. Or capture the evidence with\n"
    "  sg_opcodes --rctd --raw /dev/sgN > FILE      (sg3-utils; --drive-report FILE)\n"
    "  journalctl -k > FILE, or dmesg > FILE        (--kernel-log FILE)\n"
    "The table sg_opcodes --rctd /dev/sgN prints does as well as --raw; a report in which\n"
    "no command has timeouts (captured without --rctd) is refused.\n"
    "FILE may be '-' for standard input, once. A drive asks for its recommended timeout, or\n"
    "its nominal one; a logged timeout that expired after E seconds asks for max(2E, E+600)\n"
    "rounded up to a minute. The proposal is the larger, at most 86400, and never shorter\n"
    "than the timeout in force. One command's repeated aborts (the same address, or the same\n"
    "tag within 10 minutes, and the same code) count once; a line longer than 16384 bytes is\n"
    "skipped with a warning. Timeouts the log does not name come apart, with the logging\n"
    "that names the next one. --json prints {\"proposals\", \"enough\", \"unnamed\",\n"
    "\"devices\", \"warnings\", \"counts\"}. --apply runs each proposal through set (write,\n"
    "read back), stopping at the first that does not read back; with --dry-run it writes\n"
    "nothing.\n"
    "Exit status: 0 nothing to propose; 1 proposals made (--apply: and all applied);\n"
    "2 usage error, unreadable or malformed input, a journal that cannot be read, a host\n"
    "with neither journal nor tape device, a failing store, or a failed apply.\n";

int runAdvise(const Arguments& args, Streams io) {
    if (args.operands.size() > 1) {
        return usageError(io.err, "advise takes no operands: " + quoted(args.operands[1].c_str()));
    }
    if (args.drive_reports.empty() && args.kernel_logs.empty() && !asksHost(args)) {
        return usageError(io.err,
                          "advise needs evidence: --this-host reads this host's drives and "
                          "journal; or --drive-report FILE, captured with 'sg_opcodes --rctd "
                          "--raw /dev/sgN > FILE', or --kernel-log FILE, captured with "
                          "'journalctl -k > FILE'");
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
    if (!readStore(io.err, status, *registry)) {
        return status;
    }
    std::vector<Remark> warnings = ev->warnings;
    const std::vector<Advice> advice = decideAdvice(*ev, *registry, warnings);
    const bool any = std::any_of(advice.begin(), advice.end(), isProposal);
    nlohmann::ordered_json json = adviceJson(*ev, advice, warnings);
    if (!args.json) {
        adviceText(io.out, *ev, advice, warnings);
    }
    status = any ? exit_findings : exit_clean;
    if (args.apply && any) {
        nlohmann::ordered_json applied = nlohmann::ordered_json::array();
        status = applyAdvice(args, advice, io, applied);
        json["applied"] = applied;
        json["dry_run"] = args.dry_run;
    }
    if (args.json) {
        io.out << json.dump(2) << '\n';
    }
    return status;
}

}  // namespace scsi_timeouts_tool
