// export: the values the registry holds, as a profile that apply takes back unchanged.
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include <QrPlatformInfo.h>

#include "commands.h"
#include "duration.h"
#include "in_force.h"
#include "json_bytes.h"
#include "scsi_commands.h"
#include "scsi_timeouts_tool.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

const char export_help[] =
    "Usage: scsi-timeouts export [--json]\n"
    "Writes the values that the registry holds as a profile for 'scsi-timeouts apply': one\n"
    "line per stored value, NAME = DURATION (the registry's name, the seconds the library\n"
    "reads from it in the largest exact units) or NAME = default (at its default), with a\n"
    "comment naming the code and command it decides. A stored value that the library does not\n"
    "use (not a number, out of range, a CDB_xx of a named command) is not exported: it gets a\n"
    "comment line and a warning on standard error. --json writes {\"values\": {NAME: DURATION\n"
    "or \"default\"}, \"skipped\": [{\"name\", \"stored\", \"reason\"}, ...]}.\n"
    "Exit status 0 once the profile is written.\n";

namespace {

using Json = nlohmann::ordered_json;

// "0x01 REWIND": the code a value decides and its command; DEFAULT decides what is left.
std::string decides(const ValueReport& v) {
    const ValueName name = registryValue(v.name);
    if (name.opcode < 0) {
        return "every code that no other value decides";
    }
    const auto code = static_cast<unsigned char>(name.opcode);
    const char* command = commandName(code);
    return codeText(code) + (command != nullptr ? std::string(" ") + command : std::string());
}

std::string skippedWarning(const ValueReport& v, const char* why) {
    return std::string(v.name) + " holds " + quoted(v.stored) +
           ", which the library does not use (" + why + "): not exported";
}

}  // namespace

int runExport(const Arguments& args, Streams io) {
    if (args.operands.size() > 1) {
        return usageError(io.err, "export takes no operands: " + quoted(args.operands[1].c_str()));
    }
    const auto report = std::make_unique<RegistryReport>();
    int status = exit_clean;
    if (!withStore(io.err, status, [&] {
            QrPlatformInfo info;
            readRegistry(info, *report);
        })) {
        return status;
    }
    std::string text = "# scsi-timeouts export: " + storeDescription() + "\n";
    Json values = Json::object();
    Json skipped = Json::array();
    for (const ValueReport& v : report->values) {
        if (!v.found) {
            continue;
        }
        const InForce f = inForce(v);
        if (f.held == Held::Unused) {
            io.err << "scsi-timeouts: warning: " << terminalSafe(skippedWarning(v, f.why)) << '\n';
            text += "# not exported: " + terminalSafe(std::string(v.name)) + " holds " +
                    quoted(v.stored) + " (" + f.why + ")\n";
            skipped.push_back(
                {{"name", v.name}, {"stored", bytesJson(v.stored)}, {"reason", f.why}});
            continue;
        }
        const std::string value = f.held == Held::Default ? "default" : unitsText(f.seconds);
        values[v.name] = value;
        const bool plain = f.held == Held::Default || std::to_string(f.seconds) == v.stored;
        text += std::string(v.name) + " = " + value + "  # " + decides(v) +
                (plain ? std::string() : "; stored as " + quoted(v.stored)) + "\n";
    }
    if (args.json) {
        io.out << Json{{"values", values}, {"skipped", skipped}}.dump(2) << '\n';
    } else {
        io.out << text;
    }
    return exit_clean;
}

}  // namespace scsi_timeouts_tool
