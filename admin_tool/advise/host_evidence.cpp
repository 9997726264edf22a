// Journal entries become the reader's framed-free messages, placed by their position in the
// read (text) and their cursor (JSON), stamped with their realtime timestamp in local time.
#include "host_evidence.h"

#include <ostream>

#include "journal_time.h"
#include "live_host.h"
#include "message_kind.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

std::string deviceIdentity(const DeviceAnswer& device) {
    std::string identity = device.vendor;
    for (const std::string* part : {&device.product, &device.revision}) {
        identity += identity.empty() || part->empty() ? "" : " ";
        identity += *part;
    }
    identity += identity.empty() || device.hctl.empty() ? "" : ", ";
    identity += device.hctl;
    return identity.empty() ? "" : " (" + identity + ")";
}

bool readHostEvidence(const Arguments& args, KernelLogReader& reader, Evidence& ev,
                      std::ostream& err, ScsiTransport* transport) {
    const bool files = !args.drive_reports.empty() || !args.kernel_logs.empty();
    const std::size_t first_journal = ev.log_files.size();
    std::size_t current = SIZE_MAX;
    std::string stamp;
    std::string cursor;
    HostEvidence host;
    std::string error;
    const bool ok = readHost(
        args, files, transport,
        [&](std::size_t journal, const JournalEntry& e) {
            if (journal != current) {
                current = journal;
                reader.startFile(static_cast<int>(first_journal + journal));
            }
            // Where the message is and when, for the messages whose place may be kept: a
            // cursor costs an allocation, and most messages are not of a timeout.
            switch (classifyMessage(e.message).kind) {
                case MessageKind::NotScsi:
                case MessageKind::Other:
                case MessageKind::Cdb:
                case MessageKind::CdbHead:
                case MessageKind::Completion:
                case MessageKind::RateLimited:
                    reader.message(e.message, {e.position, {}, {}});
                    return;
                default:
                    break;
            }
            stamp = localTimestamp(e.realtime_usec);
#ifdef QR_TOOL_LIVE_HOST  // else readHost reads no journal
            cursor = cursorOf(e);
#endif
            reader.message(e.message, {e.position, stamp, cursor});
        },
        host, error);
    if (!ok) {
        err << "scsi-timeouts: " << terminalSafe(error) << '\n';
        return false;
    }
    ev.log_files.insert(ev.log_files.end(), host.journals.begin(), host.journals.end());
    ev.journals += host.journals.size();
    ev.journal_entries += host.journal_entries;
    for (const std::string& w : host.warnings) {
        ev.warnings.push_back(Remark{w, terminalSafe(w)});
    }
    for (DeviceAnswer& device : host.devices) {
        if (device.reason.empty()) {
            DriveReport report = parseDriveReport(device.report.data(), device.report.size());
            for (const std::string& w : report.warnings) {
                ev.warnings.push_back(Remark()
                                          .say("device ")
                                          .quote(device.path)
                                          .say(deviceIdentity(device) + ": " + w));
            }
            ev.drive_files.push_back(device.path + deviceIdentity(device));
            ev.drives.push_back(std::move(report));
            ev.drive_devices.push_back(static_cast<int>(ev.devices.size()));
        }
        if (!device.reason.empty()) {
            ev.warnings.push_back(
                Remark()
                    .say("device ")
                    .quote(device.path)
                    .say(deviceIdentity(device) + ": no report: " + device.reason));
        }
        ev.devices.push_back(std::move(device));
    }
    return true;
}

}  // namespace scsi_timeouts_tool
