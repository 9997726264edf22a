// A timeout as an administrator types it for `set`: whole seconds (900) or groups of a number and
// a unit (90s, 15m, 1h30m, 1d). Anything the library would read differently from how it looks is
// refused, with the reason.
#pragma once

#include <cstdint>
#include <string>

namespace scsi_timeouts_tool {

enum class DurationError : unsigned char {
    None,
    NoNumber,           // "", "m", "h30"
    WhiteSpace,         // "1 800", " 900", "1h 30m"
    GroupingOrDecimal,  // "1,800", "1.5", "1_800", "1'800"
    Exponent,           // "1e2", "1E+2"
    Sign,               // "+900", "-5", "1h-5m"
    NotDecimal,         // "0x384"
    UnknownUnit,        // "15min", "2H", "1w"
    MissingUnit,        // "1h30": a number after a group needs its own unit
    UnitOrder,          // "30m1h", "1m1m": each unit once, largest first
    Zero,               // "0", "0s"
    AboveOneDay,        // "86401", "1d1s"
    OtherText,          // "1:30"
};

struct Duration {
    DurationError error;
    int32_t seconds;  // 1 to 86400 when error is None, else 0
};

// Digits are always decimal: "0900" is 900. Long digit strings cannot overflow.
Duration parseDuration(const char* text);

// Why `text` was refused, naming the trap and, where the mistake is plain, what to write instead:
// "white space: the library reads \"15 m\" as 15; write 900 or 15m". Empty for None.
std::string durationErrorText(DurationError error, const char* text);

// Seconds in the largest units that give them exactly: 5400 is "1h30m", 45 is "45s".
std::string unitsText(int32_t seconds);

// The unit word of a stored number followed directly by one ("30m" -> "m", "15min" -> "min",
// "1h30m" -> "h"), in lower case as listed; nullptr when the text is not such a number. The
// library reads these as seconds.
const char* storedUnit(const char* text);

}  // namespace scsi_timeouts_tool
