#include "evidence.h"

#include <algorithm>

namespace scsi_timeouts_tool {

namespace {

int64_t shorter(int64_t kept, int64_t seen) {
    return kept < 0 ? seen : std::min(kept, seen);
}

}  // namespace

void addEvent(KernelLogFindings& findings, LogEvent event) {
    ++findings.events;
    CodeEvidence& c = findings.codes[event.opcode];
    ++c.events;
    if (event.expired() < 0) {
        c.some_printed_none = true;
    }
    c.longest_expired_ms = std::max(c.longest_expired_ms, event.expired());
    if (event.timeout_ms >= 0) {
        c.shortest_timeout_ms = shorter(c.shortest_timeout_ms, event.timeout_ms);
        c.longest_timeout_ms = std::max(c.longest_timeout_ms, event.timeout_ms);
    }
    if (event.cmd_age_ms >= 0) {
        c.shortest_cmd_age_ms = shorter(c.shortest_cmd_age_ms, event.cmd_age_ms);
    }
    std::vector<LogEvent>& kept = c.examples;
    if (kept.size() < CodeEvidence::max_examples) {
        kept.push_back(std::move(event));
    } else if (event.expired() > kept.back().expired() &&
               std::none_of(kept.begin(), kept.end() - 1,
                            [&](const LogEvent& k) { return k.expired() >= event.expired(); })) {
        kept.back() = std::move(event);  // the event that decides E stays in the evidence
    }
}

void addUnnamed(KernelLogFindings& findings, UnnamedTimeout timeout) {
    ++findings.unnamed;
    if (findings.unnamed_examples.size() < KernelLogFindings::max_unnamed_examples) {
        findings.unnamed_examples.push_back(std::move(timeout));
    }
}

}  // namespace scsi_timeouts_tool
