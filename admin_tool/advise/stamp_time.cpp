#include "stamp_time.h"

#include <array>

#include "log_text.h"

namespace scsi_timeouts_tool {

namespace {

using std::string_view;

// 0 to 11 for "Jan" to "Dec"; -1 for anything else.
int monthOf(string_view name) {
    static constexpr std::array<string_view, 12> months = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (std::size_t i = 0; i < months.size(); ++i) {
        if (startsWith(name, months[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The number at `at` of exactly `digits` digits, or -1.
int64_t fixed(string_view s, std::size_t at, std::size_t digits) {
    int64_t value = 0;
    return digitsAt(s, at, value) == digits ? value : -1;
}

// "10:00:00" at `at`, and a fraction after it: milliseconds into the day, or -1.
int64_t clockAt(string_view s, std::size_t at) {
    const int64_t h = fixed(s, at, 2);
    const int64_t m = fixed(s, at + 3, 2);
    const int64_t sec = fixed(s, at + 6, 2);
    if (h < 0 || m < 0 || sec < 0 || s[at + 2] != ':' || s[at + 5] != ':') {
        return -1;
    }
    int64_t ms = ((h * 60 + m) * 60 + sec) * 1000;
    const std::size_t dot = at + 8;
    if (dot < s.size() && (s[dot] == '.' || s[dot] == ',')) {
        int64_t scale = 100;
        for (std::size_t i = dot + 1; i < s.size() && isDigit(s[i]) && scale > 0; ++i) {
            ms += (s[i] - '0') * scale;
            scale /= 10;
        }
    }
    return ms;
}

// "digits.digits" (seconds) or 13 digits and more (microseconds).
StampTime plainNumber(string_view s) {
    const std::size_t n = digitsAt(s, 0);
    if (n == 0 || n > 18) {
        return {};
    }
    int64_t whole = 0;  // digitsAt's value saturates below the journal's microseconds
    for (std::size_t i = 0; i < n; ++i) {
        whole = whole * 10 + (s[i] - '0');
    }
    if (n == s.size() && n >= 13) {
        return {StampTime::Microseconds, whole / 1000};
    }
    if (n < s.size() && s[n] == '.' && digitsAt(s, n + 1) == s.size() - n - 1) {
        int64_t ms = whole * 1000;
        int64_t scale = 100;
        for (std::size_t i = n + 1; i < s.size() && scale > 0; ++i) {
            ms += (s[i] - '0') * scale;
            scale /= 10;
        }
        return {StampTime::Seconds, ms};
    }
    return {};
}

}  // namespace

StampTime stampTime(string_view s) {
    if (s.size() >= 15 && monthOf(s) >= 0 && s[3] == ' ') {  // "Dec  9 10:00:00"
        int64_t day = 0;
        const std::size_t at = s[4] == ' ' ? 5 : 4;
        const std::size_t n = digitsAt(s, at, day);
        const int64_t clock = n > 0 ? clockAt(s, at + n + 1) : -1;
        if (clock >= 0) {
            return {StampTime::Syslog, daysFromCivil(2000, monthOf(s) + 1, day) * 86400000 + clock};
        }
    }
    const std::size_t iso = s.size() > 4 && s[3] == ' ' && !isDigit(s[0]) ? 4 : 0;  // "Wed "
    if (s.size() >= iso + 19 && s[iso + 4] == '-' && s[iso + 7] == '-') {
        const int64_t y = fixed(s, iso, 4);
        const int64_t m = fixed(s, iso + 5, 2);
        const int64_t d = fixed(s, iso + 8, 2);
        const int64_t clock = clockAt(s, iso + 11);
        if (y >= 0 && m >= 0 && d >= 0 && clock >= 0) {
            return {StampTime::Calendar, daysFromCivil(y, m, d) * 86400000 + clock};
        }
    }
    if (s.size() >= 24 && s[3] == ' ' && monthOf(s.substr(4)) >= 0) {  // "Fri Dec 13 11:53:17 2024"
        int64_t day = 0;
        const std::size_t at = s[8] == ' ' ? 9 : 8;
        const std::size_t n = digitsAt(s, at, day);
        const int64_t clock = n > 0 ? clockAt(s, at + n + 1) : -1;
        const int64_t year = clock >= 0 ? fixed(s, at + n + 10, 4) : -1;
        if (year >= 0) {
            return {StampTime::Calendar,
                    daysFromCivil(year, monthOf(s.substr(4)) + 1, day) * 86400000 + clock};
        }
    }
    return plainNumber(s);
}

bool apartMoreThan(const StampTime& a, const StampTime& b, int64_t ms) {
    if (a.form == StampTime::None || a.form != b.form) {
        return false;
    }
    return (a.ms > b.ms ? a.ms - b.ms : b.ms - a.ms) > ms;
}

}  // namespace scsi_timeouts_tool
