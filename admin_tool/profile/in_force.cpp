#include "in_force.h"

#include <cstdio>
#include <cstdlib>

#include "duration.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

// The code of a per-code value, or -1: "CDB_01" is 0x01.
int perCodeOpcode(const ValueReport& v) {
    return v.def <= 0 ? static_cast<int>(std::strtol(v.name + 4, nullptr, 16)) : -1;
}

}  // namespace

InForce inForce(const ValueReport& v) {
    const qst::Decision& d = v.decision;
    const int opcode = perCodeOpcode(v);
    if (!v.found || (opcode >= 0 && d.verdict == qst::Verdict::Empty)) {
        return {Held::Default, 0, nullptr};  // an empty per-code value reads as none
    }
    if (opcode >= 0 && decidingValue(static_cast<unsigned char>(opcode)).named >= 0) {
        return {Held::Unused, 0, "never used: a named command decides its code"};
    }
    if (d.verdict == qst::Verdict::Clean) {
        // The only marker that reads as clean is the one of the value's own default.
        return v.stored[0] == '*' ? InForce{Held::Default, 0, nullptr}
                                  : InForce{Held::Seconds, d.timeout, nullptr};
    }
    // A per-code value with text after its number is used as read, and never repaired.
    if (opcode >= 0 && d.verdict == qst::Verdict::TrailingText && d.timeout > 0) {
        return {Held::Seconds, d.timeout, nullptr};
    }
    return {Held::Unused, 0,
            d.verdict == qst::Verdict::BelowMinimum || d.verdict == qst::Verdict::AboveMaximum
                ? "a number out of range"
                : reasonText(d.verdict)};
}

ValueName registryValue(const char* name) {
    const ValueName v = resolveName(name);
    return v.error == NameError::NamedDecides ? perCodeValue(static_cast<unsigned char>(v.opcode))
                                              : v;
}

std::vector<unsigned char> valueCodes(const ValueName& name) {
    if (name.opcode < 0) {
        return {};
    }
    return {static_cast<unsigned char>(name.opcode)};
}

std::string codeText(unsigned char opcode) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(opcode));
    return text;
}

std::string profileText(const ValueReport& v) {
    const InForce f = inForce(v);
    switch (f.held) {
        case Held::Default:
            return "default";
        case Held::Seconds:
            return unitsText(f.seconds);
        case Held::Unused:
            break;
    }
    return quoted(v.stored);
}

}  // namespace scsi_timeouts_tool
