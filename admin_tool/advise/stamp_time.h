// A log line's timestamp as a time, where its form gives one: to tell one run of the error
// handler from a timeout hours later. Only times of one form compare.
#pragma once

#include <cstdint>
#include <string_view>

namespace scsi_timeouts_tool {

struct StampTime {
    enum Form { None, Syslog, Calendar, Seconds, Microseconds };
    Form form = None;
    int64_t ms = 0;
};

// "Dec  9 10:00:00", "2026-12-09T10:00:00.5+01:00", "Fri Dec 13 11:53:17 2024" (dmesg -T),
// "1765274400.123456" and "1234.567890" (seconds), "1765274400123456" (the journal's
// microseconds). None for anything else, such as dmesg's "+0.000006".
StampTime stampTime(std::string_view stamp);

// Whether two lines are further apart than `ms`; false where their times do not tell.
bool apartMoreThan(const StampTime& a, const StampTime& b, int64_t ms);

}  // namespace scsi_timeouts_tool
