// The text and JSON views of apply.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "changes.h"
#include "profile.h"

namespace scsi_timeouts_tool {

struct ApplyOutcome {
    Plan plan;
    bool check;
    bool diff;
    std::size_t applied;  // changes written and read back, from the first
    bool failed;          // the change after them did not read back
    std::vector<std::string> warnings;
    std::vector<ProfileError> errors;  // no file (empty) and no line (0) for a failing store
};

// One line per change ("LOAD: 15m -> 2h12m"), or with diff a -/+ pair in profile form, then a
// summary line.
void applyText(std::ostream& out, const ApplyOutcome& outcome);
// {"changed", "check", "changes": [{"name", "opcodes", "before", "after"}], "unchanged",
// "warnings", "errors": [{"file", "line", "message"}]}, and with diff "diff": {"before",
// "after"}, each the changed values in profile form.
void applyJson(std::ostream& out, const ApplyOutcome& outcome);

}  // namespace scsi_timeouts_tool
