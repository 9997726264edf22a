// set and reset: one value written as the library writes it, then read back in a new process
// through the library's own reader and load.
#include <QrPlatformInfo.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "audit_log.h"
#include "command_line.h"
#include "duration.h"
#include "profile/in_force.h"
#include "read_back.h"
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

// "set REWIND 30 m": the DURATION and the units after it, when together they make one.
std::string splitDuration(const std::vector<std::string>& operands) {
    std::string joined;
    for (std::size_t i = 2; i < operands.size(); ++i) {
        if (i > 2 && operands[i].find_first_of("smhd") == std::string::npos) {
            return "";  // "set REWIND 900 1" is not one duration
        }
        joined += operands[i];
    }
    return parseDuration(joined.c_str()).error == DurationError::None
               ? "; did you mean " + joined + "?"
               : "";
}

// The request the operands make, or the usage error.
std::string readRequest(const Arguments& args, WriteRequest& req) {
    const std::size_t operands = req.set ? 3 : 2;
    if (args.operands.size() < operands) {
        return req.set ? "set needs a NAME and a DURATION" : "reset needs a NAME";
    }
    if (args.operands.size() > operands) {
        return "too many operands: " + quoted(args.operands[operands].c_str()) +
               (req.set ? splitDuration(args.operands) : "");
    }
    req.name = resolveName(args.operands[1].c_str());
    if (!req.set && req.name.error == NameError::NamedDecides) {
        req.name = perCodeValue(static_cast<unsigned char>(req.name.opcode));  // to clear it
    }
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
                   durationErrorText(duration.error, args.operands[2].c_str());
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

// The load over the registry as it was, but with the request's text in its value: what the
// write puts in force, decided by the library's own load and reader.
struct WithRequest {
    const RegistryReport* before;
    const WriteRequest* req;
    int next;                 // the position in load order of the value read next
    int32_t default_timeout;  // what DEFAULT gives
};

int32_t readWithRequest(void* context, QrPlatformInfo& /*info*/, const char* name,
                        qst::Bounds bounds, int32_t def) {
    WithRequest& w = *static_cast<WithRequest*>(context);
    const ValueReport& v = w.before->values[w.next];
    const char* text = std::strcmp(name, w.req->name.value) == 0 ? w.req->text
                       : v.found                                 ? v.stored
                                                                 : nullptr;
    const int32_t t = qst::decideTimeout(text, bounds, def).timeout;
    if (w.next++ == qst::default_position) {
        w.default_timeout = t;
    }
    return t;
}

// What the audit log says a value held: its stored seconds, "default", or its text.
std::string auditText(const ValueReport& v) {
    const InForce f = inForce(v);
    return f.held == Held::Seconds   ? std::to_string(f.seconds)
           : f.held == Held::Default ? std::string("default")
                                     : quoted(v.stored);
}

int32_t wouldGive(QrPlatformInfo& info, const RegistryReport& before, const WriteRequest& req) {
    WithRequest w{&before, &req, 0, 0};
    int32_t table[256];
    qst::loadTable(info, qst::ValueReader{readWithRequest, &w}, table, nullptr);
    return req.name.opcode < 0 ? w.default_timeout : table[req.name.opcode];
}

}  // namespace

int runWrite(const Arguments& args, bool set, Streams io) {
    WriteRequest req{};
    req.set = set;
    const std::string usage = readRequest(args, req);
    if (!usage.empty()) {
        return usageError(io.err, usage);
    }
    // Before the write: a reader forked after it could hold what this process wrote in memory.
    std::unique_ptr<FreshReader> fresh;
    if (!args.dry_run) {
        fresh = std::make_unique<FreshReader>(args.how_to_read_back);
    }
    // What the store prints goes into the one line of a failure, or after the report.
    StoreMessages store_said;
    const auto failed = [&](const std::string& line) {
        const std::string said = store_said.take();
        io.err << "scsi-timeouts: " << terminalSafe(line + (said.empty() ? "" : ": " + said))
               << '\n';
        return exit_usage;
    };
    const auto before = std::make_unique<RegistryReport>();
    int status = exit_clean;
    bool unchanged = false;
    bool refused = false;
    int32_t would = 0;
    if (!withStore(io.err, status, [&] {
            QrPlatformInfo info;
            readRegistry(info, *before);
            unchanged = holds(valueOf(*before, req.name), req);
            would = wouldGive(info, *before, req);
            if (!unchanged && !args.dry_run) {
                refused =
                    info.setString(qst::key_name, req.name.value, req.text, qst::value_size) == 0;
            }
        })) {
        return status;
    }
    if (refused) {
        return failed(std::string("the platform store refused to write ") + req.name.value);
    }
    if (!unchanged && !args.dry_run) {  // written: logged whether or not it reads back
        auditChange(req.name.value, valueCodes(req.name), auditText(valueOf(*before, req.name)),
                    req.set ? std::to_string(req.seconds) : std::string("default"));
    }
    const std::string store = "store: " + storeDescription() + "\n";
    const std::string note = kernelNote(req.name);
    const std::string lead = store + (note.empty() ? "" : note + "\n");
    const ValueReport& old = valueOf(*before, req.name);
    if (unchanged) {
        io.out << lead << req.name.value << ": " << quoted(old) << " already; nothing written\n";
        return exit_clean;
    }
    const std::string line =
        std::string(req.name.value) + ": " + quoted(old) + " -> " + quoted(req.text);
    const int32_t was = timeoutOf(*before, req.name);
    if (args.dry_run) {
        io.out << lead << line << ": " << was << " s -> " << would
               << " s (dry run: nothing written)\n";
        return exit_clean;
    }

    const std::string written = std::string(req.name.value) + " was written (" + quoted(old) +
                                " -> " + quoted(req.text) + ")";
    const auto after = std::make_unique<RegistryReport>();
    std::string why;
    if (!fresh->read(*after, why)) {
        return failed(written + ", but reading it back failed: " + why);
    }
    const ValueReport& now = valueOf(*after, req.name);
    if (!holds(now, req) || !doesAsAsked(now, req)) {
        return failed(std::string(req.name.value) +
                      " did not read back as written: a new process reads " + quoted(now) +
                      " from " + storeDescription());
    }
    io.out << lead << line << ": " << was << " s -> " << timeoutOf(*after, req.name) << " s\n";
    if (!io.out.flush()) {
        io.err << "scsi-timeouts: " << writeError(io.out) << "; " << terminalSafe(written) << '\n';
        return exit_usage;
    }
    return exit_clean;
}

}  // namespace scsi_timeouts_tool
