// apply: makes the registry hold a profile. The whole profile is checked first; then each value
// that differs goes through set's own write path, alone, and is read back in a new process.
#include <QrPlatformInfo.h>

#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "apply_view.h"
#include "changes.h"
#include "commands.h"
#include "profile.h"
#include "scsi_timeouts_tool.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

const char apply_help[] =
    "Usage: scsi-timeouts apply [--check] [--diff] [--exclusive] [--json] PROFILE\n"
    "Makes every value that PROFILE ('-': standard input) names hold what it says. A line is\n"
    "NAME = DURATION or NAME = default (as reset leaves it); '#' starts a comment. A JSON\n"
    "profile is {\"values\": {NAME: DURATION, seconds or \"default\"}}. The whole profile is\n"
    "checked first: each error is reported as FILE:LINE: and nothing is written. Values are\n"
    "compared by what the library reads (0x384 is 15m); only those that differ are written,\n"
    "each through set (written alone, read back in a new process), DEFAULT first, then in load\n"
    "order; the first that does not read back stops it. --exclusive also resets every stored\n"
    "value the profile does not name. --check prints the changes and writes nothing. --diff\n"
    "prints each change as -NAME = before / +NAME = after. --json prints {\"changed\",\n"
    "\"check\", \"changes\": [{\"name\", \"opcodes\", \"before\", \"after\"}, ...], "
    "\"unchanged\",\n"
    "\"warnings\", \"errors\": [{\"file\", \"line\", \"message\"}, ...]}.\n"
    "Exit status: 0 nothing to change; 1 changes made (--check: pending); 2 usage error, a bad\n"
    "profile, a failing store, or a value that did not read back.\n";

namespace {

std::string oneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    for (char& c : text) {
        c = c == '\n' ? ' ' : c;
    }
    return text;
}

std::string names(const std::vector<Change>& changes) {
    std::string out;
    for (const Change& c : changes) {
        out += (out.empty() ? "" : ", ") + std::string(c.name.value);
    }
    return out.empty() ? "none" : out;
}

// Each change through set or reset itself, as its own command would make it. Stops at the
// first that fails; returns its one line.
std::string writeAll(const Arguments& args, ApplyOutcome& o) {
    for (const Change& c : o.plan.changes) {
        Arguments write;
        write.how_to_read_back = args.how_to_read_back;
        write.operands = {c.to_default ? "reset" : "set", c.name.value};
        if (!c.to_default) {
            write.operands.push_back(std::to_string(c.seconds));
        }
        std::ostringstream out;
        std::ostringstream err;
        if (runWrite(write, !c.to_default, Streams{out, err}) != exit_clean) {
            o.failed = true;
            std::string line = oneLine(err.str());
            line.erase(0, std::string("scsi-timeouts: ").size());
            const auto stop = o.plan.changes.begin() + static_cast<std::ptrdiff_t>(o.applied);
            return "apply stopped at " + std::string(c.name.value) + ": " + line +
                   "; applied: " + names({o.plan.changes.begin(), stop}) +
                   "; not applied: " + names({stop, o.plan.changes.end()});
        }
        ++o.applied;
    }
    return "";
}

int finish(const Arguments& args, Streams io, const ApplyOutcome& o) {
    if (args.json) {
        applyJson(io.out, o);
    } else {
        io.out << "store: " << storeDescription() << '\n';
        applyText(io.out, o);
    }
    if (o.failed || !o.errors.empty()) {
        return exit_usage;
    }
    return o.plan.changes.empty() ? exit_clean : exit_findings;
}

}  // namespace

int runApply(const Arguments& args, Streams io) {
    if (args.operands.size() != 2) {
        return usageError(io.err,
                          args.operands.size() < 2
                              ? "apply needs a PROFILE ('-': standard input)"
                              : "apply takes one PROFILE: " + quoted(args.operands[2].c_str()));
    }
    ApplyOutcome o{{{}, 0}, args.check, args.diff, 0, false, {}, {}};
    const Profile profile = readProfile(args.operands[1]);
    if (!profile.errors.empty()) {
        for (const ProfileError& e : profile.errors) {
            io.err << "scsi-timeouts: " << errorLine(e) << '\n';
        }
        io.err << "scsi-timeouts: " << profile.errors.size()
               << (profile.errors.size() == 1 ? " error" : " errors")
               << " in the profile; nothing written\n";
        if (args.json) {
            o.errors = profile.errors;
            applyJson(io.out, o);
        }
        return exit_usage;
    }
    for (const ProfileEntry& e : profile.entries) {
        const std::string note = kernelNote(e.name);
        if (!note.empty()) {
            o.warnings.push_back(note);
        }
    }
    const auto report = std::make_unique<RegistryReport>();
    int status = exit_clean;
    std::ostringstream store_failed;
    if (!withStore(store_failed, status, [&] {
            QrPlatformInfo info;
            readRegistry(info, *report);
        })) {
        io.err << store_failed.str();
        if (args.json) {
            std::string line = oneLine(store_failed.str());
            o.errors.push_back({"", 0, line.erase(0, std::string("scsi-timeouts: ").size())});
            applyJson(io.out, o);
        }
        return status;
    }
    o.plan = planChanges(*report, profile, args.exclusive);
    if (!args.check) {
        const std::string stopped = writeAll(args, o);
        if (!stopped.empty()) {
            io.err << "scsi-timeouts: " << terminalSafe(stopped) << '\n';
            o.errors.push_back({"", 0, stopped});
        }
    }
    if (!args.json) {
        for (const std::string& w : o.warnings) {
            io.err << "scsi-timeouts: note: " << terminalSafe(w) << '\n';
        }
    }
    return finish(args, io, o);
}

}  // namespace scsi_timeouts_tool
