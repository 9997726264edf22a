// advise's inputs: every --drive-report and --kernel-log FILE opened first, then read in full.
#pragma once

#include <iosfwd>

#include "advice.h"
#include "command_line.h"

namespace scsi_timeouts_tool {

// False with one line on `err` and `status` set when a file cannot be opened or read, or a
// drive report is malformed.
bool readEvidence(const Arguments& args, Evidence& ev, std::ostream& err, int& status);

}  // namespace scsi_timeouts_tool
