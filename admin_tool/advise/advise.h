// scsi-timeouts advise: from a drive's own timeout report and the kernel log to the values to
// set, each a `scsi-timeouts set` command; --apply runs them through set itself.
#pragma once

#include "command_line.h"

namespace scsi_timeouts_tool {

extern const char advise_help[];

int runAdvise(const Arguments& args, Streams io);

}  // namespace scsi_timeouts_tool
