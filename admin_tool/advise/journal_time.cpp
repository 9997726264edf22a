// --since and the printed timestamps of journal entries, both in local time as journalctl's.
#include "journal_time.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace scsi_timeouts_tool {

namespace {

constexpr uint64_t usec_per_sec = 1000000;

// Reads exactly `digits` digits at `pos`.
bool number(std::string_view text, std::size_t& pos, int digits, int& value) {
    value = 0;
    for (int i = 0; i < digits; ++i, ++pos) {
        if (pos >= text.size() || std::isdigit(static_cast<unsigned char>(text[pos])) == 0) {
            return false;
        }
        value = value * 10 + (text[pos] - '0');
    }
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// Local midnight of "today" or "yesterday", as `now` sees it.
bool localMidnight(uint64_t now_usec, std::string_view day, uint64_t& usec) {
    const auto now = static_cast<std::time_t>(now_usec / usec_per_sec);
    std::tm tm{};
    if (localtime_r(&now, &tm) == nullptr) {
        return false;
    }
    tm.tm_mday -= day == "yesterday" ? 1 : 0;
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    usec = static_cast<uint64_t>(t) * usec_per_sec;
    return t >= 0;
}

// "-7d", "-1h 30min": journalctl's time spans, counted back from now.
bool relative(std::string_view text, uint64_t now_usec, uint64_t& usec) {
    static const struct {
        std::string_view unit;
        uint64_t seconds;
    } units[] = {{"seconds", 1},      {"second", 1},      {"sec", 1},          {"s", 1},
                 {"minutes", 60},     {"minute", 60},     {"min", 60},         {"m", 60},
                 {"hours", 3600},     {"hour", 3600},     {"hr", 3600},        {"h", 3600},
                 {"days", 86400},     {"day", 86400},     {"d", 86400},        {"weeks", 604800},
                 {"week", 604800},    {"w", 604800},      {"months", 2629800}, {"month", 2629800},
                 {"years", 31557600}, {"year", 31557600}, {"y", 31557600}};
    std::size_t pos = 1;  // after '-'
    uint64_t back = 0;
    bool any = false;
    while (pos < text.size()) {
        if (text[pos] == ' ') {
            ++pos;
            continue;
        }
        uint64_t n = 0;
        const std::size_t start = pos;
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) != 0) {
            if (n > UINT64_C(100000000)) {
                return false;
            }
            n = n * 10 + static_cast<uint64_t>(text[pos++] - '0');
        }
        std::size_t end = pos;
        while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end])) != 0) {
            ++end;
        }
        const std::string_view unit = text.substr(pos, end - pos);
        uint64_t seconds = 0;
        for (const auto& u : units) {
            if (u.unit == unit) {
                seconds = u.seconds;
            }
        }
        if (pos == start || seconds == 0) {
            return false;
        }
        back += n * seconds * usec_per_sec;
        pos = end;
        any = true;
    }
    if (!any || back > now_usec) {
        return false;
    }
    usec = now_usec - back;
    return true;
}

}  // namespace

bool parseSince(std::string_view text, uint64_t now_usec, uint64_t& usec, std::string& error) {
    error =
        "expected 'YYYY-MM-DD HH:MM:SS' (local time; ':SS' or the time may be left out, "
        "'T' may stand for the space), 'today', 'yesterday', 'now' or '-7d'-style "
        "relative (s, min, h, d, w)";
    if (text == "now") {
        usec = now_usec;
        return true;
    }
    if (text == "today" || text == "yesterday") {
        return localMidnight(now_usec, text, usec);
    }
    if (!text.empty() && text[0] == '-') {
        return relative(text, now_usec, usec);
    }
    std::tm tm{};
    std::size_t pos = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    if (!number(text, pos, 4, year) || !expect(text, pos, '-') || !number(text, pos, 2, month) ||
        !expect(text, pos, '-') || !number(text, pos, 2, day)) {
        return false;
    }
    if (pos < text.size()) {
        if (!expect(text, pos, ' ') && !expect(text, pos, 'T')) {
            return false;
        }
        if (!number(text, pos, 2, tm.tm_hour) || !expect(text, pos, ':') ||
            !number(text, pos, 2, tm.tm_min)) {
            return false;
        }
        if (pos < text.size() && (!expect(text, pos, ':') || !number(text, pos, 2, tm.tm_sec))) {
            return false;
        }
    }
    if (pos != text.size() || month < 1 || month > 12 || day < 1 || day > 31 || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 60) {
        return false;
    }
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    std::tm asked = tm;
    const std::time_t t = std::mktime(&tm);
    if (t < 0 || tm.tm_mday != asked.tm_mday) {  // 2026-02-31 would become March
        error = "no such date: " + std::string(text);
        return false;
    }
    usec = static_cast<uint64_t>(t) * usec_per_sec;
    error.clear();
    return true;
}

std::string localTimestamp(uint64_t usec) {
    const auto seconds = static_cast<std::time_t>(usec / usec_per_sec);
    std::tm tm{};
    if (localtime_r(&seconds, &tm) == nullptr) {
        return std::to_string(usec);
    }
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
    const long offset = tm.tm_gmtoff / 60;
    char out[64];
    std::snprintf(out, sizeof out, "%s.%06u%c%02ld:%02ld", date,
                  static_cast<unsigned>(usec % usec_per_sec), offset < 0 ? '-' : '+',
                  (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
    return out;
}

}  // namespace scsi_timeouts_tool
