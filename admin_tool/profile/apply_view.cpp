#include "apply_view.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "duration.h"
#include "in_force.h"
#include "json_bytes.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

using Json = nlohmann::ordered_json;

std::string afterText(const Change& c) {
    return c.to_default ? "default" : unitsText(c.seconds);
}

// A value before the change in profile form: what is not in force, as it is stored.
std::string beforeLine(const Change& c) {
    const InForce f = inForce(*c.value);
    const std::string text = f.held == Held::Default   ? std::string("default")
                             : f.held == Held::Seconds ? unitsText(f.seconds)
                                                       : terminalSafe(c.value->stored);
    return std::string(c.name.value) + " = " + text + "\n";
}

std::string afterLine(const Change& c) {
    return std::string(c.name.value) + " = " + afterText(c) + "\n";
}

Json beforeJson(const ValueReport& v) {
    const InForce f = inForce(v);
    return f.held == Held::Default   ? Json(nullptr)
           : f.held == Held::Seconds ? Json(f.seconds)
                                     : bytesJson(v.stored);
}

Json orNull(const std::string& bytes) {
    return bytes.empty() ? Json(nullptr) : bytesJson(bytes);
}

}  // namespace

void applyText(std::ostream& out, const ApplyOutcome& o) {
    const std::size_t shown = o.check ? o.plan.changes.size() : o.applied;
    for (std::size_t i = 0; i < shown; ++i) {
        const Change& c = o.plan.changes[i];
        if (o.diff) {
            out << (c.value->found ? "-" + beforeLine(c) : std::string()) << '+' << afterLine(c);
        } else {
            out << c.name.value << ": "
                << (c.value->found ? profileText(*c.value) : std::string("absent")) << " -> "
                << afterText(c) << '\n';
        }
    }
    if (o.check) {
        out << o.plan.changes.size() << " to change, " << o.plan.unchanged
            << " unchanged (check: nothing written)\n";
    } else {
        out << o.applied << " changed, " << o.plan.unchanged << " unchanged, "
            << o.plan.changes.size() - o.applied << " failed\n";
    }
}

void applyJson(std::ostream& out, const ApplyOutcome& o) {
    Json changes = Json::array();
    std::string before;
    std::string after;
    for (const Change& c : o.plan.changes) {
        Json codes = Json::array();
        for (const unsigned char code : valueCodes(c.name)) {
            codes.push_back(codeText(code));
        }
        changes.push_back({{"name", c.name.value},
                           {"opcodes", codes},
                           {"before", beforeJson(*c.value)},
                           {"after", c.to_default ? Json(nullptr) : Json(c.seconds)}});
        before += c.value->found ? beforeLine(c) : "";
        after += afterLine(c);
    }
    Json errors = Json::array();
    for (const ProfileError& e : o.errors) {
        errors.push_back({{"file", orNull(e.file)},
                          {"line", e.line > 0 ? Json(e.line) : Json(nullptr)},
                          {"message", bytesJson(e.message)}});
    }
    Json view = {{"changed", o.check ? !o.plan.changes.empty() : o.applied > 0},
                 {"check", o.check},
                 {"changes", changes},
                 {"unchanged", o.plan.unchanged},
                 {"warnings", o.warnings},
                 {"errors", errors}};
    if (o.diff) {
        view["diff"] = {{"before", bytesJson(before)}, {"after", after}};
    }
    out << view.dump(2) << '\n';
}

}  // namespace scsi_timeouts_tool
