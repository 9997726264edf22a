// scsi-timeouts advise: from a drive's own timeout report and the kernel log to the values to
// set, each a `scsi-timeouts set` command; --apply runs them through set itself.
#pragma once

#include <cstdint>
#include <string>

#include "command_line.h"

namespace scsi_timeouts_tool {

extern const char advise_help[];

int runAdvise(const Arguments& args, Streams io);

// Seconds as set reads them back: "11m", "2m12s", "1d". 1 to 86400.
std::string formatDuration(int32_t seconds);

// What a logged timeout that expired after `expired_ms` asks for: twice as long, and at least
// ten minutes more, rounded up to a whole minute, at most a day.
int32_t timeoutAfter(int64_t expired_ms);

}  // namespace scsi_timeouts_tool
