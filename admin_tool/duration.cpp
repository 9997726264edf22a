#include "duration.h"

#include <QrScsiTimeoutsModule.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

namespace qst = qr_scsi_timeouts;

// Anything above the maximum is as good as any other: sums and products saturate here.
constexpr int64_t too_long = int64_t{qst::timeout_bounds.max} + 1;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlpha(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

bool sameLetters(const char* lower, const char* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) {
            return false;
        }
    }
    return true;
}

int64_t saturate(int64_t v) {
    return v > too_long ? too_long : v;
}

struct Unit {
    char letter;
    int64_t seconds;
};
// Largest first: the order in which groups must come.
constexpr Unit units[] = {{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};

Duration refused(DurationError error) {
    return {error, 0};
}

constexpr std::size_t unit_count = sizeof units / sizeof units[0];

// The index in units of a unit letter; unit_count for none.
std::size_t unitIndex(char letter) {
    std::size_t u = 0;
    while (u < unit_count && units[u].letter != letter) {
        ++u;
    }
    return u;
}

// Traps anywhere in the text: white space, and a hexadecimal prefix.
DurationError wholeTextTrap(const char* text) {
    for (const char* p = text; *p != 0; ++p) {
        if (std::isspace(static_cast<unsigned char>(*p)) != 0) {
            return DurationError::WhiteSpace;
        }
    }
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return DurationError::NotDecimal;
    }
    return DurationError::None;
}

// Where a group's number should start.
DurationError groupStartTrap(char c) {
    if (c == '+' || c == '-') {
        return DurationError::Sign;
    }
    if (!isDigit(c)) {
        return isAlpha(c) || c == 0 ? DurationError::NoNumber : DurationError::OtherText;
    }
    return DurationError::None;
}

// What follows a group's number, where its unit letter should stand.
DurationError unitTrap(const char* p) {
    if (*p == ',' || *p == '.' || *p == '_' || *p == '\'') {
        return DurationError::GroupingOrDecimal;
    }
    if ((*p == 'e' || *p == 'E') &&
        (isDigit(p[1]) || ((p[1] == '+' || p[1] == '-') && isDigit(p[2])))) {
        return DurationError::Exponent;
    }
    if (*p == '+' || *p == '-') {
        return DurationError::Sign;
    }
    if (!isAlpha(*p)) {
        return DurationError::OtherText;
    }
    if (isAlpha(p[1])) {
        return DurationError::UnknownUnit;  // "min", "sec", "hours"
    }
    return DurationError::None;
}

// The digits at p, saturated; p ends past them.
int64_t readNumber(const char*& p) {
    int64_t number = 0;
    while (isDigit(*p)) {
        number = saturate(number * 10 + (*p++ - '0'));
    }
    return number;
}

}  // namespace

Duration parseDuration(const char* text) {
    const DurationError trap = wholeTextTrap(text);
    if (trap != DurationError::None) {
        return refused(trap);
    }
    int64_t total = 0;
    std::size_t next_unit = 0;  // index into units of the smallest unit still allowed
    const char* p = text;
    do {
        const DurationError start = groupStartTrap(*p);
        if (start != DurationError::None) {
            return refused(start);
        }
        const int64_t number = readNumber(p);
        if (*p == 0) {
            if (next_unit > 0) {
                return refused(DurationError::MissingUnit);  // "1h30"
            }
            total = number;
            break;
        }
        const DurationError unit = unitTrap(p);
        if (unit != DurationError::None) {
            return refused(unit);
        }
        const std::size_t u = unitIndex(*p);
        if (u == unit_count) {
            return refused(DurationError::UnknownUnit);
        }
        if (u < next_unit) {
            return refused(DurationError::UnitOrder);
        }
        next_unit = u + 1;
        total = saturate(total + saturate(number * units[u].seconds));
        ++p;
    } while (*p != 0);
    if (total < qst::timeout_bounds.min) {
        return refused(DurationError::Zero);
    }
    if (total > qst::timeout_bounds.max) {
        return refused(DurationError::AboveOneDay);
    }
    return {DurationError::None, static_cast<int32_t>(total)};
}

std::string unitsText(int32_t seconds) {
    std::string out;
    int64_t left = seconds;
    for (const Unit& u : units) {
        if (left >= u.seconds) {
            out += std::to_string(left / u.seconds) + u.letter;
            left %= u.seconds;
        }
    }
    return out;
}

namespace {

// "write 900 or 15m" for what `compact` (the text without the trap) means, when it is a duration.
std::string advice(const std::string& compact, const char* otherwise) {
    const Duration d = parseDuration(compact.c_str());
    if (d.error != DurationError::None) {
        return otherwise;
    }
    return "write " + std::to_string(d.seconds) + " or " + unitsText(d.seconds);
}

std::string withoutWhiteSpace(const char* text) {
    std::string out;
    for (const char* p = text; *p != 0; ++p) {
        if (std::isspace(static_cast<unsigned char>(*p)) == 0) {
            out += *p;
        }
    }
    return out;
}

// "1,800" as 1800: a separator counts as grouping only before three digits ("1,8" may be 1.8).
std::string ungrouped(const char* text) {
    std::string out;
    for (const char* p = text; *p != 0; ++p) {
        if (std::strchr(",_'", *p) == nullptr) {
            out += *p;
        } else if (!(isDigit(p[1]) && isDigit(p[2]) && isDigit(p[3]) && !isDigit(p[4]))) {
            return "";
        }
    }
    return out;
}

// The number the library takes from the text, as it reads a stored value.
std::string libraryReads(const char* text) {
    return "the library reads " + quoted(text) + " as " +
           std::to_string(std::strtol(text, nullptr, 0)) + "; ";
}

}  // namespace

std::string durationErrorText(DurationError error, const char* text) {
    switch (error) {
        case DurationError::None:
            return "";
        case DurationError::NoNumber:
            return "no number: give whole seconds (900) or a number with a unit (15m)";
        case DurationError::WhiteSpace:
            return "white space: " + libraryReads(text) +
                   advice(withoutWhiteSpace(text), "write whole seconds or units (15m)");
        case DurationError::GroupingOrDecimal:
            return "grouping or a decimal point: " + libraryReads(text) +
                   (std::strchr(text, '.') != nullptr
                        ? std::string("write whole seconds (5400) or units (1h30m)")
                        : advice(ungrouped(text), "write whole seconds or units (1h30m)"));
        case DurationError::Exponent:
            return "an exponent: " + libraryReads(text) + "write the number out (100, not 1e2)";
        case DurationError::Sign:
            return "a sign: a timeout is a positive number without + or -";
        case DurationError::NotDecimal:
            return "hexadecimal: digits are always decimal (0900 is 900)";
        case DurationError::UnknownUnit:
            return "unknown unit: the units are s, m, h and d, in lower case (15m, not 15min)";
        case DurationError::MissingUnit:
            return "a number without a unit after a group: write 1h30m, not 1h30";
        case DurationError::UnitOrder:
            return "units out of order or repeated: each unit once, largest first (1h30m)";
        case DurationError::Zero:
            return "zero: the shortest timeout is 1 second";
        case DurationError::AboveOneDay:
            return "above one day: the longest timeout is 86400 seconds (1d)";
        case DurationError::OtherText:
            break;
    }
    return "not a duration: give whole seconds (900) or groups like 1h30m";
}

const char* storedUnit(const char* text) {
    // The words people write after a number of seconds, minutes, hours or days.
    static const char* const words[] = {
        "s",       "sec", "secs", "second", "seconds", "m",     "min", "mins", "minute",
        "minutes", "h",   "hr",   "hrs",    "hour",    "hours", "d",   "day",  "days",
    };
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p)) != 0) {
        ++p;  // where the library starts reading too
    }
    if (!isDigit(*p)) {
        return nullptr;
    }
    while (isDigit(*p)) {
        ++p;
    }
    std::size_t n = 0;
    while (isAlpha(p[n])) {
        ++n;
    }
    // The word ends the text or starts the next group ("1h30m").
    if (n == 0 || (p[n] != 0 && !isDigit(p[n]))) {
        return nullptr;
    }
    for (const char* word : words) {
        if (std::strlen(word) == n && sameLetters(word, p, n)) {
            return word;
        }
    }
    return nullptr;
}

}  // namespace scsi_timeouts_tool
