#include "line_framing.h"

#include <algorithm>

#include "log_text.h"

namespace scsi_timeouts_tool {

namespace {

using std::string_view;

// "Dec  9 10:00:00", also with fractions (journalctl short-precise).
std::size_t syslogStamp(string_view t) {
    if (t.size() < 16 || !isUpper(t[0]) || !isLower(t[1]) || !isLower(t[2]) || t[3] != ' ' ||
        !(t[4] == ' ' || isDigit(t[4])) || !isDigit(t[5]) || t[6] != ' ' || !isDigit(t[7]) ||
        !isDigit(t[8]) || t[9] != ':' || !isDigit(t[10]) || !isDigit(t[11]) || t[12] != ':' ||
        !isDigit(t[13]) || !isDigit(t[14])) {
        return 0;
    }
    std::size_t n = 15;
    if (t[n] == '.') {
        n += 1 + digitsAt(t, n + 1);
    }
    return n;
}

// The fraction and zone after an RFC 3339 or ISO time at `n`: ".123456+01:00", "Z", " CET".
std::size_t timeEnd(string_view t, std::size_t n) {
    if (n < t.size() && (t[n] == '.' || t[n] == ',')) {
        n += 1 + digitsAt(t, n + 1);
    }
    if (n < t.size() && t[n] == 'Z') {
        return n + 1;
    }
    if (n < t.size() && (t[n] == '+' || t[n] == '-')) {
        const std::size_t d = digitsAt(t, n + 1);
        n += 1 + d;
        return d == 2 && n < t.size() && t[n] == ':' ? n + 1 + digitsAt(t, n + 1) : n;
    }
    std::size_t z = n + 1;
    while (z < t.size() && z < n + 7 && isUpper(t[z])) {
        ++z;
    }
    const bool zone_name = n < t.size() && t[n] == ' ' && z > n + 1 && z < t.size() && t[z] == ' ';
    return zone_name ? z : n;  // "CET"
}

// "2026-12-09T10:00:00.123456+01:00", "2026-12-09 10:00:00", "Wed 2026-12-09 10:00:00 CET".
std::size_t isoStamp(string_view t) {
    std::size_t n = 0;
    if (t.size() > 4 && isUpper(t[0]) && isLower(t[1]) && isLower(t[2]) && t[3] == ' ') {
        n = 4;  // the weekday of short-full
    }
    // The shape of "2026-12-09T10:00:00": d for a digit, anything else as it stands.
    static constexpr string_view shape = "dddd-dd-ddTdd:dd:dd";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = n + i < t.size() ? t[n + i] : '\0';
        const bool fits = shape[i] == 'd'   ? isDigit(c)
                          : shape[i] == 'T' ? c == 'T' || c == ' '
                                            : c == shape[i];
        if (!fits) {
            return 0;
        }
    }
    return timeEnd(t, n + shape.size());
}

// "1765274400.123456" (journalctl short-unix).
std::size_t unixStamp(string_view t) {
    const std::size_t whole = digitsAt(t, 0);
    if (whole < 9 || whole >= t.size() || t[whole] != '.') {
        return 0;
    }
    const std::size_t fraction = digitsAt(t, whole + 1);
    return fraction > 0 ? whole + 1 + fraction : 0;
}

// "[ 1234.567890]", "[Fri Dec 13 11:53:17 2024]", "[  +0.000006]", with a digit in it.
std::size_t bracketStamp(string_view t) {
    if (t.empty() || t[0] != '[') {
        return 0;
    }
    const std::size_t close = t.substr(0, 48).find(']');
    if (close == string_view::npos || close < 2) {
        return 0;
    }
    const string_view inside = t.substr(1, close - 1);
    if (std::none_of(inside.begin(), inside.end(), isDigit)) {
        return 0;
    }
    return close + 1;
}

void skipSpace(string_view& t) {
    if (!t.empty() && t[0] == ' ') {
        t.remove_prefix(1);
    }
}

// After a syslog or journal stamp: "host tag: ", "tag: " or, without the host, " tag: ".
Origin afterStamp(string_view& t) {
    if (t.empty() || t[0] != ' ') {
        return Origin::NotKernel;
    }
    t.remove_prefix(1);
    skipSpace(t);
    string_view tag = token(t);
    if (tag.empty() || tag.back() != ':') {
        t.remove_prefix(std::min(tag.size() + 1, t.size()));  // the host
        tag = token(t);
    }
    if (startsWith(t, "last message repeated ")) {
        return Origin::SyslogRepeatNotice;
    }
    if (tag != "kernel:") {
        return Origin::NotKernel;  // "kernel[4242]:" is logger -t kernel: the kernel has no PID
    }
    t.remove_prefix(std::min(tag.size() + 1, t.size()));
    return Origin::Kernel;
}

// "[ 1234.5] ", and after it, with journalctl -o short-monotonic, "host kernel: ". Another
// program's tag there is "name[PID]:", which no kernel device prefix looks like.
Origin afterBracketStamp(string_view& t) {
    skipSpace(t);
    if (startsWith(t, "kernel: ")) {
        t.remove_prefix(8);  // journalctl -o short-monotonic --no-hostname
        return Origin::Kernel;
    }
    const string_view host = token(t);
    const string_view tag = token(t.substr(std::min(host.size() + 1, t.size())));
    if (host.empty() || tag.size() <= 2 || tag.back() != ':') {
        return Origin::Kernel;
    }
    if (tag == "kernel:") {
        t.remove_prefix(host.size() + 1 + tag.size());
        skipSpace(t);
        return Origin::Kernel;
    }
    return tag[tag.size() - 2] == ']' ? Origin::NotKernel : Origin::Kernel;
}

}  // namespace

FramedLine frameLine(string_view line) {
    FramedLine out;
    string_view t = line;
    if (t.size() >= 3 && t[0] == '<' && isDigit(t[1]) && t[2] == '>') {
        t.remove_prefix(3);  // a console level
    }
    std::size_t n = syslogStamp(t);
    n = n > 0 ? n : isoStamp(t);
    n = n > 0 ? n : unixStamp(t);
    if (n > 0) {
        out.stamp = t.substr(0, n);
        t.remove_prefix(n);
        if (out.stamp.find(',') != string_view::npos && startsWith(t, " ")) {
            out.origin = Origin::Kernel;  // dmesg --time-format=iso: the message follows
            out.message = t.substr(1);
            return out;
        }
        out.origin = afterStamp(t);
        if (out.origin != Origin::Kernel) {
            return out;
        }
    } else if (startsWith(t, "kernel: ")) {
        t.remove_prefix(8);
    }
    n = bracketStamp(t);
    if (n == 0) {
        out.origin = Origin::Kernel;
        out.message = t;
        return out;
    }
    if (out.stamp.empty()) {
        out.stamp = t.substr(1, n - 2);  // as printed, without the brackets and padding
        while (!out.stamp.empty() && out.stamp[0] == ' ') {
            out.stamp.remove_prefix(1);
        }
    }
    t.remove_prefix(n);
    out.origin = afterBracketStamp(t);
    out.message = t;
    return out;
}

}  // namespace scsi_timeouts_tool
