// apply's decision: which values a profile changes, compared by what the library reads from
// them, never by their text.
#pragma once

#include <cstdint>
#include <vector>

#include "profile.h"
#include "scsi_timeouts_tool.h"

namespace scsi_timeouts_tool {

struct Change {
    ValueName name;            // as set, or for to_default reset, takes it
    const ValueReport* value;  // what it holds now, in the report given
    int line;                  // the profile's line; 0 for a reset that --exclusive adds
    bool to_default;
    int32_t seconds;  // else: what it is set to
};

struct Plan {
    std::vector<Change> changes;  // DEFAULT first, then in the order the library loads them
    int unchanged;                // values the profile names that already hold what it says
};

// Whether `v` already holds what `entry` asks: a DURATION only from a value that the library
// reads as those seconds, `default` from an absent value or one at its default.
bool agrees(const ValueReport& v, const ProfileEntry& entry);

// The changes that make `report` hold `profile`; `exclusive`: and every other stored value
// reset.
Plan planChanges(const RegistryReport& report, const Profile& profile, bool exclusive);

}  // namespace scsi_timeouts_tool
