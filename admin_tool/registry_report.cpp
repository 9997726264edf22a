// The registry as the next load will see it: the library's own load, given a reader that
// records what it decides instead of writing markers.
#include <QrPlatformInfo.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "duration.h"
#include "scsi_timeouts_tool.h"
#include "terminal_text.h"
#include "value_names.h"

namespace scsi_timeouts_tool {

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Looks at what follows the leading number, where the library stops reading.
unsigned numberEndWarning(const char* after) {
    if (isSpace(*after)) {
        while (isSpace(*after)) {
            ++after;
        }
        return isDigit(*after) ? unsigned{DigitsAfterSpace} : 0u;
    }
    if (*after == ',' || *after == '.') {
        return GroupingOrDecimal;
    }
    if (*after == 'e' || *after == 'E') {
        const char* exponent = after + 1;
        if (*exponent == '+' || *exponent == '-') {
            ++exponent;
        }
        return isDigit(*exponent) ? unsigned{Exponent} : 0u;
    }
    return 0;
}

// A per-code value is never repaired. An empty one is how reset clears it: it reads as none.
unsigned perCodeWarning(const ValueReport& v) {
    const qst::Decision& d = v.decision;
    if (v.def > 0 || d.verdict == qst::Verdict::Empty) {
        return 0;
    }
    if (d.timeout <= 0) {
        return PerCodeUnusable;
    }
    return d.verdict != qst::Verdict::Clean ? unsigned{PerCodeAsRead} : 0u;
}

// The code of a per-code value, or -1: "CDB_01" is 0x01.
int perCodeOpcode(const ValueReport& v) {
    return v.def <= 0 ? static_cast<int>(std::strtol(v.name + 4, nullptr, 16)) : -1;
}

// Where the number of a stored text starts, past white space and a sign, as the library reads it.
const char* numberStart(const char* text) {
    while (isSpace(*text)) {
        ++text;
    }
    return *text == '+' || *text == '-' ? text + 1 : text;
}

// "0600" is octal and "0x1e2" hexadecimal to the library; set writes decimal.
bool notDecimal(const char* text) {
    const char* p = numberStart(text);
    return p[0] == '0' &&
           (isDigit(p[1]) || ((p[1] == 'x' || p[1] == 'X') && std::isxdigit(p[2]) != 0));
}

unsigned warningsFor(const ValueReport& v, bool install_entry) {
    if (!v.found) {
        return 0;
    }
    const int opcode = perCodeOpcode(v);
    if (opcode >= 0 && decidingValue(static_cast<unsigned char>(opcode)).named >= 0) {
        // Read by the load, and then overwritten by the named command's value.
        return v.stored[0] != '\0' ? unsigned{PerCodeNeverUsed} : 0u;
    }
    const qst::Decision& d = v.decision;
    unsigned w = d.number_end > 0 ? numberEndWarning(v.stored + d.number_end) : 0;
    if (storedUnit(v.stored) != nullptr) {
        w |= UnitSuffix;
    }
    if (notDecimal(v.stored)) {
        w |= NotDecimal;
    }
    w |= perCodeWarning(v);
    // An empty value gives the default; anything else left unrepaired is worth a word ("0" is 1).
    if (d.rewrite && !qst::repairs(d, install_entry) && d.verdict != qst::Verdict::Empty) {
        w |= NotRepairedNoInstall;
    }
    return w;
}

// The load's reader: records each value in the order the load reads it.
int32_t recordValue(void* context, QrPlatformInfo& info, const char* name, qst::Bounds bounds,
                    int32_t def) {
    RegistryReport& report = *static_cast<RegistryReport*>(context);
    ValueReport& v = report.values[report.read_count++];
    std::snprintf(v.name, sizeof v.name, "%s", name);
    v.found = qst::readValue(info, qst::key_name, name, v.stored);
    v.def = def;
    v.decision = qst::decideTimeout(v.found ? v.stored : nullptr, bounds, def);
    v.repaired = qst::repairs(v.decision, report.install_entry);
    v.warnings = warningsFor(v, report.install_entry);
    return v.decision.timeout;
}

}  // namespace

void readRegistry(QrPlatformInfo& info, RegistryReport& report) {
    char buffer[qst::value_size];
    // The library looks the install entry up only when a repair falls due; the answer is the
    // same, and asking first lets every value say whether it would be written.
    report.install_entry = qst::probeInstallEntry(info, buffer);
    report.read_count = 0;
    qst::loadTable(info, qst::ValueReader{recordValue, &report}, report.table, report.decided_by);
}

std::vector<Misspelled> readMisspellings(QrPlatformInfo& info, const RegistryReport& report) {
    std::vector<Misspelled> found;
    char buffer[qst::value_size];
    for (const ValueReport& v : report.values) {
        for (const std::string& variant : misspellings(v.name)) {
            if (qst::readValue(info, qst::key_name, variant.c_str(), buffer) &&
                !(v.found && std::strcmp(buffer, v.stored) == 0)) {
                found.push_back({variant, buffer, v.name});
            }
        }
    }
    return found;
}

const ValueReport& sourceValue(const RegistryReport& report, unsigned char opcode) {
    return report.values[report.decided_by[opcode]];
}

const char* reasonText(qst::Verdict verdict) {
    switch (verdict) {
        case qst::Verdict::Clean:
            return nullptr;
        case qst::Verdict::Absent:
            return "absent";
        case qst::Verdict::Empty:
            return "empty";
        case qst::Verdict::BelowMinimum:
            return "below the minimum";
        case qst::Verdict::AboveMaximum:
            return "above the maximum";
        case qst::Verdict::StaleMarker:
            return "stale marker";
        case qst::Verdict::UnclosedMarker:
            return "unclosed marker";
        case qst::Verdict::NotANumber:
            return "not a number";
        case qst::Verdict::TrailingText:
            break;
    }
    return "number followed by other text";
}

const char* shownReason(const ValueReport& v) {
    if (!v.found || (v.def <= 0 && v.decision.verdict == qst::Verdict::Empty)) {
        return nullptr;
    }
    return reasonText(v.decision.verdict);
}

std::string warningText(Warning warning, const ValueReport& v) {
    switch (warning) {
        case DigitsAfterSpace:
            return "white space ends the number: the digits after it are ignored";
        case GroupingOrDecimal:
            return "digit grouping or a decimal point ends the number";
        case Exponent:
            return "an exponent ends the number";
        case PerCodeUnusable:
            return "gives no usable number: DEFAULT applies";
        case PerCodeAsRead:
            return "a per-code value is never repaired: the load uses it as read";
        case NotRepairedNoInstall:
            return std::string("not repaired: no install entry ") + qst::install_name + " under " +
                   qst::install_key;
        case PerCodeNeverUsed: {
            const int opcode = perCodeOpcode(v);
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(opcode & 0xFF));
            return std::string("never used: ") +
                   decidingValue(static_cast<unsigned char>(opcode)).value + " decides " + code +
                   " whatever " + v.name + " holds; 'scsi-timeouts reset " + v.name + "' clears it";
        }
        case NotDecimal: {
            const char* p = numberStart(v.stored);
            return std::string(p[1] == 'x' || p[1] == 'X' ? "0x makes the number hexadecimal"
                                                          : "a leading 0 makes the number octal") +
                   ": the library reads " + std::to_string(std::strtol(v.stored, nullptr, 0)) +
                   " seconds; 'scsi-timeouts set' always writes decimal";
        }
        case UnitSuffix:
            break;
    }
    return "a unit after the number is not understood: the number counts as seconds; "
           "'scsi-timeouts set' understands units";
}

std::string storeDescription() {
    // The stand-in store keeps the registry in the file this names; a real store has its own.
    const char* file = std::getenv("QRLIB_STAND_IN_FILE");
    return file != nullptr && file[0] != '\0' ? "the stand-in's file " + terminalSafe(file)
                                              : std::string("the platform store");
}

}  // namespace scsi_timeouts_tool
