// scsi-timeouts export and apply: the registry as a profile, and a profile made to hold.
#pragma once

#include "command_line.h"

namespace scsi_timeouts_tool {

extern const char export_help[];
extern const char apply_help[];

int runExport(const Arguments& args, Streams io);
int runApply(const Arguments& args, Streams io);

}  // namespace scsi_timeouts_tool
