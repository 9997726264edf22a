#include "changes.h"

#include <algorithm>
#include <cstring>

#include "in_force.h"

namespace scsi_timeouts_tool {

namespace {

int positionOf(const RegistryReport& report, const char* name) {
    for (int i = 0; i < report.read_count; ++i) {
        if (std::strcmp(report.values[i].name, name) == 0) {
            return i;
        }
    }
    return -1;  // every name a profile holds is one the load reads
}

}  // namespace

bool agrees(const ValueReport& v, const ProfileEntry& entry) {
    const InForce f = inForce(v);
    return entry.to_default ? f.held == Held::Default
                            : f.held == Held::Seconds && f.seconds == entry.seconds;
}

Plan planChanges(const RegistryReport& report, const Profile& profile, bool exclusive) {
    Plan plan{{}, 0};
    std::vector<int> positions;  // of each change
    std::vector<bool> named(static_cast<std::size_t>(report.read_count), false);
    for (const ProfileEntry& e : profile.entries) {
        const int at = positionOf(report, e.name.value);
        if (at < 0) {
            continue;
        }
        named[static_cast<std::size_t>(at)] = true;
        const ValueReport& v = report.values[at];
        if (agrees(v, e)) {
            ++plan.unchanged;
        } else {
            plan.changes.push_back({e.name, &v, e.line, e.to_default, e.seconds});
            positions.push_back(at);
        }
    }
    for (int at = 0; exclusive && at < report.read_count; ++at) {
        const ValueReport& v = report.values[at];
        if (!named[static_cast<std::size_t>(at)] && inForce(v).held != Held::Default) {
            plan.changes.push_back({registryValue(v.name), &v, 0, true, 0});
            positions.push_back(at);
        }
    }
    std::vector<std::size_t> order(plan.changes.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return positions[a] < positions[b]; });
    std::vector<Change> sorted;
    sorted.reserve(order.size());
    for (const std::size_t i : order) {
        sorted.push_back(plan.changes[i]);
    }
    plan.changes = std::move(sorted);
    return plan;
}

}  // namespace scsi_timeouts_tool
