// A log line as dmesg, syslog or journalctl's text forms write it: the prefixes taken off (console
// level, timestamps, host and program tag), leaving the kernel's message, or saying that the line
// is another program's.
#pragma once

#include <string_view>

namespace scsi_timeouts_tool {

enum class Origin {
    Kernel,
    NotKernel,           // another program's line, or no log line at all
    SyslogRepeatNotice,  // "last message repeated N times": syslog's own rate limiting
};

struct FramedLine {
    Origin origin = Origin::NotKernel;
    std::string_view message;  // without the prefixes
    std::string_view stamp;    // the first timestamp as printed; empty when the line has none
};

// `line` without its line end.
FramedLine frameLine(std::string_view line);

}  // namespace scsi_timeouts_tool
