#include "advice.h"

#include <algorithm>
#include <cstdio>

#include "duration.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

constexpr int32_t one_day = qst::timeout_bounds.max;

// The note the log gives where the sender's timeout is not the one in force.
void senderNote(const CodeEvidence& c, Advice& a) {
    const int64_t in_force_ms = int64_t{a.in_force} * 1000;
    int64_t shown = -1;
    if (c.shortest_timeout_ms >= 0 && c.shortest_timeout_ms != in_force_ms) {
        shown = c.shortest_timeout_ms;
    } else if (c.longest_timeout_ms >= 0 && c.longest_timeout_ms != in_force_ms) {
        shown = c.longest_timeout_ms;
    } else if (c.shortest_cmd_age_ms >= 0 && c.shortest_cmd_age_ms < in_force_ms) {
        shown = c.shortest_cmd_age_ms;
    }
    if (shown < 0) {
        return;
    }
    a.notes.push_back(Remark().say(
        "the log shows a timeout of " + secondsText(shown) + ", not the " +
        std::to_string(a.in_force) +
        " s in force: the program that sent the command did not use this registry's value, or "
        "it started before the value was set; " +
        (isProposal(a) ? "the proposal" : "the value in force") +
        " helps only once the sender takes its timeout from the library (getScsiTimeout) in a "
        "process started after the change"));
}

}  // namespace

Remark& Remark::quote(const std::string& name) {
    bytes += '"' + name + '"';
    shown += quoted(name.c_str());
    return *this;
}

const LogEvent& citedEvent(const CodeEvidence& log, const Advice& a) {
    // E is an event's own, or the timeout in force where an event printed none.
    const bool in_force = log.some_printed_none && a.expired_ms == int64_t{a.in_force} * 1000;
    for (const LogEvent& e : log.examples) {
        if (in_force ? e.expired() < 0 : e.expired() == a.expired_ms) {
            return e;
        }
    }
    return log.examples.front();
}

std::string secondsText(int64_t ms) {
    std::string s = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(ms % 1000));
        s += fraction;
        s.erase(s.find_last_not_of('0') + 1);
    }
    return s + " s";
}

int32_t timeoutAfter(int64_t expired_ms) {
    const int64_t ms = std::max(2 * expired_ms, expired_ms + INT64_C(600000));
    const int64_t minutes = (ms + 59999) / 60000;
    return static_cast<int32_t>(std::min<int64_t>(minutes * 60, one_day));
}

std::vector<std::string> setCommand(const Advice& a) {
    return {"scsi-timeouts", "set", a.value.value, unitsText(a.proposed)};
}

std::vector<Advice> decideAdvice(const Evidence& ev, const RegistryReport& registry,
                                 std::vector<Remark>& warnings) {
    std::vector<Advice> out;
    for (int code = 0; code < 256; ++code) {
        Advice a;
        a.opcode = static_cast<unsigned char>(code);
        for (std::size_t r = 0; r < ev.drives.size(); ++r) {
            const DriveAsk& ask = ev.drives[r].asks[code];
            if (ask.present && ask.seconds > a.drive_asks) {
                a.drive = static_cast<int>(r);  // a tie keeps the first file given
                a.drive_asks = ask.seconds;
            }
        }
        const CodeEvidence& log = ev.log.codes[code];
        if (a.drive < 0 && log.events == 0) {
            continue;
        }
        a.value = decidingValue(a.opcode);
        a.in_force_from = &sourceValue(registry, a.opcode);
        a.in_force = registry.table[code];
        int64_t asked = a.drive_asks;  // the most that any evidence asks
        if (a.drive_asks > static_cast<uint32_t>(one_day)) {
            Remark w;
            w.quote(ev.drive_files[a.drive])
                .say(" asks " + std::to_string(a.drive_asks) + " s for " + a.value.value +
                     ", more than the library can hold (at most 86400 s)");
            warnings.push_back(w);
            a.notes.push_back(w);
        }
        if (log.events > 0) {
            a.expired_ms = log.longest_expired_ms;
            if (log.some_printed_none) {
                a.expired_ms = std::max(a.expired_ms, int64_t{a.in_force} * 1000);
            }
            asked = std::max<int64_t>(asked, timeoutAfter(a.expired_ms));
        }
        a.proposed = static_cast<int32_t>(std::min<int64_t>(asked, one_day));
        if (log.events > 0) {
            senderNote(log, a);
        }
        out.push_back(std::move(a));
    }
    return out;
}

}  // namespace scsi_timeouts_tool
