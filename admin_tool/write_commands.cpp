// set and reset: one value written as the library writes it, then read back by a fresh store
// object through the library's own reader and load.
#include <QrPlatformInfo.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>

#include "command_line.h"
#include "duration.h"
#include "value_names.h"
#include "views.h"

namespace scsi_timeouts_tool {

namespace {

struct WriteRequest {
    bool set;
    ValueName name;
    int32_t seconds;             // set: what was asked for
    char text[qst::value_size];  // what is written
};

// The request the operands make, or the usage error.
std::string readRequest(const Arguments& args, WriteRequest& req) {
    const std::size_t operands = req.set ? 3 : 2;
    if (args.operands.size() < operands) {
        return req.set ? "set needs a NAME and a DURATION" : "reset needs a NAME";
    }
    if (args.operands.size() > operands) {
        return "too many operands: " + quoted(args.operands[operands].c_str());
    }
    req.name = resolveName(args.operands[1].c_str());
    if (req.name.error != NameError::None) {
        return nameErrorText(args.operands[1].c_str(), req.name);
    }
    // What the library itself writes: plain seconds, the marker of the built-in default, or
    // nothing at all for a per-code value, which has no default.
    req.text[0] = '\0';
    if (req.set) {
        const Duration duration = parseDuration(args.operands[2].c_str());
        if (duration.error != DurationError::None) {
            return "not a DURATION: " + quoted(args.operands[2].c_str()) + ": " +
                   durationErrorText(duration.error);
        }
        req.seconds = duration.seconds;
        std::snprintf(req.text, sizeof req.text, "%d", static_cast<int>(req.seconds));
    } else if (req.name.def > 0) {
        qst::formatMarker(req.text, req.name.def);
    }
    return "";
}

// Every name resolves to one of the values the load reads.
const ValueReport& valueOf(const RegistryReport& report, const ValueName& name) {
    const auto* v =
        std::find_if(std::begin(report.values), std::end(report.values),
                     [&](const ValueReport& r) { return std::strcmp(r.name, name.value) == 0; });
    return v != std::end(report.values) ? *v : report.values[qst::default_position];
}

// The timeout a value puts in force: its own for DEFAULT, else its code's table entry.
int32_t timeoutOf(const RegistryReport& report, const ValueName& name) {
    return name.opcode < 0 ? report.values[qst::default_position].decision.timeout
                           : report.table[name.opcode];
}

// Whether the value holds the request's text. A store may drop an emptied per-code value:
// absent reads the same.
bool holds(const ValueReport& v, const WriteRequest& req) {
    return v.found ? std::strcmp(v.stored, req.text) == 0 : !req.set && req.name.def <= 0;
}

// Whether the value read back does what was asked: the seconds asked for, or nothing to repair.
bool doesAsAsked(const ValueReport& v, const WriteRequest& req) {
    if (req.set) {
        return v.decision.verdict == qst::Verdict::Clean && v.decision.timeout == req.seconds;
    }
    return shownReason(v) == nullptr && !v.decision.rewrite;
}

// The timeout a dry run would put in force. DEFAULT's own stands in for a per-code value that
// gives none.
int32_t wouldGive(const RegistryReport& before, const WriteRequest& req) {
    if (req.set) {
        return req.seconds;
    }
    return req.name.def > 0 ? req.name.def : before.values[qst::default_position].decision.timeout;
}

}  // namespace

int runWrite(const Arguments& args, bool set, Streams io) {
    WriteRequest req{};
    req.set = set;
    const std::string usage = readRequest(args, req);
    if (!usage.empty()) {
        return usageError(io.err, usage);
    }
    const auto before = std::make_unique<RegistryReport>();
    int status = exit_clean;
    bool unchanged = false;
    bool refused = false;
    if (!withStore(io.err, status, [&] {
            QrPlatformInfo info;
            readRegistry(info, *before);
            unchanged = holds(valueOf(*before, req.name), req);
            if (!unchanged && !args.dry_run) {
                refused =
                    info.setString(qst::key_name, req.name.value, req.text, qst::value_size) == 0;
            }
        })) {
        return status;
    }
    if (refused) {
        io.err << "scsi-timeouts: the platform store refused to write " << req.name.value << '\n';
        return exit_usage;
    }
    const ValueReport& old = valueOf(*before, req.name);
    if (unchanged) {
        io.out << req.name.value << ": " << quoted(old) << " already; nothing written\n";
        return exit_clean;
    }
    const std::string line =
        std::string(req.name.value) + ": " + quoted(old) + " -> " + quoted(req.text);
    const int32_t was = timeoutOf(*before, req.name);
    if (args.dry_run) {
        io.out << line << ": " << was << " s -> " << wouldGive(*before, req)
               << " s (dry run: nothing written)\n";
        return exit_clean;
    }

    const auto after = std::make_unique<RegistryReport>();
    if (!withStore(io.err, status, [&] {
            QrPlatformInfo fresh;
            readRegistry(fresh, *after);
        })) {
        return status;
    }
    const ValueReport& now = valueOf(*after, req.name);
    if (!holds(now, req) || !doesAsAsked(now, req)) {
        io.err << "scsi-timeouts: " << req.name.value
               << " did not read back as written: the store holds " << quoted(now) << " now\n";
        return exit_usage;
    }
    io.out << line << ": " << was << " s -> " << timeoutOf(*after, req.name) << " s\n";
    return exit_clean;
}

}  // namespace scsi_timeouts_tool
