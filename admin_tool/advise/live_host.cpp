// Which devices and journals to read, from the command line and sysfs, and what to say when
// the host has neither.
#include "live_host.h"

#include <sys/time.h>

#include <algorithm>

#include "journal_time.h"
#include "sysfs_devices.h"
#ifdef QR_TOOL_LIVE_HOST
#include "sg_transport.h"
#endif

namespace scsi_timeouts_tool {

namespace {

#ifdef QR_TOOL_LIVE_HOST
constexpr const char* host_journal = "the journal of this host";

// The journal requests, in the order given; --this-host adds the host's own, this boot's.
bool journalRequests(const Arguments& args, std::vector<JournalRequest>& out,
                     std::vector<std::string>& names, std::string& error) {
    JournalRequest base;
    base.root = hostRoot();
    if (args.since_set) {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        const uint64_t now_usec =
            static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_usec);
        std::string why;
        if (!parseSince(args.since, now_usec, base.since_usec, why)) {
            error = "--since " + args.since + ": " + why;
            return false;
        }
        base.since_set = true;
    }
    base.boot_set = args.boot_set;
    base.boot = args.boot;
    bool host = false;
    for (const std::string& path : args.journals) {
        JournalRequest r = base;
        r.host = path.empty();
        r.path = path;
        host = host || r.host;
        out.push_back(r);
        names.push_back(r.host ? host_journal : path);
    }
    if (args.this_host && !host) {
        JournalRequest r = base;
        r.boot_set = true;
        r.boot = args.boot_set ? args.boot : 0;
        out.push_back(r);
        names.emplace_back(host_journal);
    }
    return true;
}

// --device paths as given, then every tape drive and changer sysfs lists.
std::vector<std::string> devicePaths(const Arguments& args, HostEvidence& ev,
                                     std::string& none_found) {
    std::vector<std::string> paths = args.devices;
    if (!args.all_devices && !args.this_host) {
        return paths;
    }
    const std::string root = hostRoot();
    std::size_t found = 0;
    for (const SgNode& node : scsiGenericNodes(root + "/sys")) {
        if (!node.problem.empty()) {
            ev.warnings.push_back(node.name + ": " + node.problem);
        } else if (isTapeOrChanger(node)) {
            const std::string path = root + "/dev/" + node.name;
            if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
                paths.push_back(path);
            }
            ++found;
        }
    }
    if (found == 0) {
        none_found =
            "no tape drive or medium changer on this host (no SCSI generic node of "
            "type 1 or 8 in /sys/class/scsi_generic)";
        ev.warnings.push_back(none_found);
    }
    return paths;
}
#endif

}  // namespace

bool asksHost(const Arguments& args) {
    return !args.journals.empty() || !args.devices.empty() || args.all_devices || args.this_host ||
           args.since_set || args.boot_set;
}

bool readHost(const Arguments& args, bool other_evidence, ScsiTransport* transport,
              const JournalSink& sink, HostEvidence& ev, std::string& error) {
#ifndef QR_TOOL_LIVE_HOST
    (void)args, (void)other_evidence, (void)transport, (void)sink, (void)ev;
    error =
        "this scsi-timeouts was built without reading the host (QR_TOOL_LIVE_HOST=OFF): "
        "--journal, --device, --devices and --this-host are not available; give captured "
        "evidence with --kernel-log and --drive-report";
    return false;
#else
    if ((args.since_set || args.boot_set) && args.journals.empty() && !args.this_host) {
        error = "--since and --boot go with --journal or --this-host";
        return false;
    }
    std::vector<JournalRequest> requests;
    if (!journalRequests(args, requests, ev.journals, error)) {
        return false;
    }
    std::string no_devices;
    const std::vector<std::string> paths = devicePaths(args, ev, no_devices);
    SgTransport sg;
    for (const std::string& path : paths) {
        ev.devices.push_back(
            askDevice(path, transport != nullptr ? *transport : sg, hostRoot() + "/sys"));
    }
    std::string no_journal;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const JournalResult r =
            readJournal(requests[i], [&](const JournalEntry& e) { sink(i, e); });
        ev.journal_entries += r.entries;
        const bool implied =
            requests[i].host && args.this_host &&
            std::find(args.journals.begin(), args.journals.end(), "") == args.journals.end();
        if (r.outcome == JournalOutcome::NoJournal && implied) {
            no_journal = r.error;
            ev.warnings.push_back("the kernel's messages were not read: " + r.error);
        } else if (r.outcome != JournalOutcome::Read) {
            error = r.error;
            return false;
        }
    }
    if (!no_journal.empty() && !no_devices.empty() && args.devices.empty() && !other_evidence) {
        error = "nothing to read on this host: " + no_journal + "; " + no_devices;
        return false;
    }
    const bool answered = std::any_of(ev.devices.begin(), ev.devices.end(),
                                      [](const DeviceAnswer& a) { return a.reason.empty(); });
    if (!answered && !ev.devices.empty() && requests.size() == (no_journal.empty() ? 0U : 1U) &&
        !other_evidence) {
        error = "no device answered, and there is no other evidence:";
        for (const DeviceAnswer& a : ev.devices) {
            error += " " + a.path + ": " + a.reason + ";";
        }
        error.pop_back();
        return false;
    }
    return true;
#endif
}

}  // namespace scsi_timeouts_tool
