// Times as the journal's reader takes and prints them: --since in journalctl's forms, and an
// entry's realtime timestamp in the local time zone. Pure functions over the process's TZ.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace scsi_timeouts_tool {

// "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DD HH:MM", "YYYY-MM-DD", the same with 'T' for the space,
// "now", "today", "yesterday", or relative "-7d", "-2h", "-30min", "-1w 2d" (journalctl's
// units), all in local time. `now_usec` is the time relative forms count back from. Microseconds
// since the epoch, or false with `error` saying what was expected.
bool parseSince(std::string_view text, uint64_t now_usec, uint64_t& usec, std::string& error);

// "2026-12-10T03:50:53.123456+01:00": an entry's realtime timestamp in the local time zone.
std::string localTimestamp(uint64_t usec);

}  // namespace scsi_timeouts_tool
