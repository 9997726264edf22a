// A line of `journalctl -o json`: one object per line, the kernel's message in MESSAGE (an array
// of byte values where it is not UTF-8), its time in __REALTIME_TIMESTAMP.
#pragma once

#include <string>
#include <string_view>

namespace scsi_timeouts_tool {

// The kernel's message and timestamp in `line`, a line that starts with '{'. False for another
// program's record, a record without a message, and one that cannot matter to SCSI timeouts.
bool journalMessage(std::string_view line, std::string& message, std::string& stamp);

}  // namespace scsi_timeouts_tool
