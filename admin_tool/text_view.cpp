// The plain-text views: columns for people, every stored text quoted so that white space shows.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ostream>
#include <string>

#include "scsi_commands.h"
#include "views.h"

namespace scsi_timeouts_tool {

namespace {

// As long as the text needs: a quoted value alone may take four characters per stored byte.
// NOLINTNEXTLINE(cert-dcl50-cpp): the format attribute has the compiler check every call's types
[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string line(static_cast<std::size_t>(std::max(length, 0)), '\0');
    std::vsnprintf(line.data(), line.size() + 1, fmt, again);
    va_end(again);
    return line;
}

std::string misspelledText(const Misspelled& m) {
    return "warning: " + quoted(m.name.c_str()) + " = " + quoted(m.stored.c_str()) +
           " is never read: the library reads only the exact name " + m.meant;
}

// The last of a run of absent per-code values from `first`, the normal case, which takes one
// line; `first` itself when there is no run.
int absentRunEnd(const RegistryReport& report, int first) {
    const auto absentPerCode = [&](int i) {
        return !report.values[i].found && report.values[i].def <= 0;
    };
    int last = first;
    while (absentPerCode(last) && last + 1 < qst::value_count && absentPerCode(last + 1)) {
        ++last;
    }
    return last;
}

// What the summary line counts.
struct Tally {
    int repairs = 0;
    int warnings = 0;
};

// One value's line, at `position` in load order.
void checkLine(std::ostream& out, const ValueReport& v, int position, Tally& tally) {
    const std::string timeout = v.decision.timeout > 0 ? std::to_string(v.decision.timeout) : "-";
    char marker[qst::value_size] = "-";
    if (v.repaired) {
        qst::formatMarker(marker, v.def);
        ++tally.repairs;
    }
    // A per-code value names its command, as the kernel's log does.
    const char* command =
        v.def <= 0 ? commandName(static_cast<unsigned char>(position - 1)) : nullptr;
    const std::string name =
        command != nullptr ? std::string(v.name) + " " + command : std::string(v.name);
    out << format("%-39s  %7s  %-9s  ", name.c_str(), timeout.c_str(), marker) << quoted(v);
    if (const char* reason = shownReason(v)) {
        out << "  (" << reason << ")";
    }
    for (const Warning w : all_warnings) {
        if ((v.warnings & w) != 0) {
            out << "  warning: " << warningText(w, v);
            ++tally.warnings;
        }
    }
    out << '\n';
}

}  // namespace

std::string quoted(const ValueReport& v) {
    return v.found ? quoted(v.stored) : "absent";
}

void showText(std::ostream& out, const RegistryReport& report,
              const std::vector<unsigned char>& opcodes) {
    out << format("%-6s  %7s  %-39s  %-10s  %s\n", "OPCODE", "TIMEOUT", "SOURCE", "STORED",
                  "COMMAND");
    for (const unsigned char opcode : opcodes) {
        const ValueReport& v = sourceValue(report, opcode);
        const char* command = commandName(opcode);
        std::string line = format("0x%02X    %7d  %-39s  %-10s  %s", opcode,
                                  static_cast<int>(report.table[opcode]), v.name, quoted(v).c_str(),
                                  command != nullptr ? command : "");
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    }
}

void checkText(std::ostream& out, const RegistryReport& report,
               const std::vector<Misspelled>& misspelled) {
    out << "store: " << storeDescription() << '\n';
    out << "install entry " << qst::install_name << " under " << qst::install_key << ": "
        << (report.install_entry ? "present, the load repairs values"
                                 : "absent, the load writes nothing")
        << '\n';
    out << format("%-39s  %7s  %-9s  %s\n", "NAME", "TIMEOUT", "REPAIR", "STORED, WHY, WARNINGS");
    Tally tally;
    for (int i = 0; i < qst::value_count; ++i) {
        const int last = absentRunEnd(report, i);
        if (last > i) {
            out << format("%-6s to %-29s  %7s  %-9s  absent\n", report.values[i].name,
                          report.values[last].name, "-", "-");
            i = last;
        } else {
            checkLine(out, report.values[i], i, tally);
        }
    }
    for (const Misspelled& m : misspelled) {
        out << misspelledText(m) << '\n';
        ++tally.warnings;
    }
    out << qst::value_count << " values read; the next load repairs " << tally.repairs << "; "
        << tally.warnings << (tally.warnings == 1 ? " warning" : " warnings") << '\n';
}

}  // namespace scsi_timeouts_tool
