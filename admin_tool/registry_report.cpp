// The registry as the next load will see it: the library's own load, given a reader that
// records what it decides instead of writing markers.
#include <QrPlatformInfo.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "duration.h"
#include "scsi_timeouts_tool.h"
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

unsigned warningsFor(const ValueReport& v, bool install_entry) {
    if (!v.found) {
        return 0;
    }
    const qst::Decision& d = v.decision;
    unsigned w = d.number_end > 0 ? numberEndWarning(v.stored + d.number_end) : 0;
    if (storedUnit(v.stored) != nullptr) {
        w |= UnitSuffix;
    }
    w |= perCodeWarning(v);
    // An empty value gives the default; anything else left unrepaired is worth a word ("0" is 1).
    if (d.rewrite && !install_entry && d.verdict != qst::Verdict::Empty) {
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
    v.repaired = v.decision.rewrite && report.install_entry;
    v.warnings = warningsFor(v, report.install_entry);
    return v.decision.timeout;
}

}  // namespace

void readRegistry(QrPlatformInfo& info, RegistryReport& report) {
    char buffer[qst::value_size];
    // The library looks the install entry up only when a repair falls due; the answer is the
    // same, and asking first lets every value say whether it would be written.
    report.install_entry = qst::readValue(info, "Base", "vARURAROD", buffer);
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

const char* warningText(Warning warning) {
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
            return "not repaired: no install entry vARURAROD under Base";
        case UnitSuffix:
            break;
    }
    return "a unit after the number is not understood: the number counts as seconds; "
           "'scsi-timeouts set' understands units";
}

}  // namespace scsi_timeouts_tool
