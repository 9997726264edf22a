#include "kernel_log.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "hex_digit.h"

namespace scsi_timeouts_tool {

namespace {

using std::string_view;

constexpr std::size_t max_devices = 256;
constexpr std::size_t max_text = 240;  // of a message kept for an unnamed timeout
// Of a device, a timestamp or a command address kept: a crafted line of a MiB must not make
// every kept event a MiB.
constexpr std::size_t max_field = 64;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLower(char c) {
    return c >= 'a' && c <= 'z';
}
bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

bool startsWith(string_view s, string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// memmem: the substrings looked for are short, the lines as long as they come.
std::size_t find(string_view s, string_view what) {
    if (s.size() < what.size()) {
        return string_view::npos;  // also an empty view, whose data may be null
    }
    const void* at = ::memmem(s.data(), s.size(), what.data(), what.size());
    return at == nullptr ? string_view::npos
                         : static_cast<std::size_t>(static_cast<const char*>(at) - s.data());
}
bool contains(string_view s, string_view what) {
    return find(s, what) != string_view::npos;
}

// Digits at `at`, how many; `value` saturates.
std::size_t digitsAt(string_view s, std::size_t at, int64_t& value) {
    std::size_t n = 0;
    value = 0;
    while (at + n < s.size() && isDigit(s[at + n])) {
        value = std::min<int64_t>(value * 10 + (s[at + n] - '0'), INT64_C(1) << 40);
        ++n;
    }
    return n;
}
std::size_t digitsAt(string_view s, std::size_t at) {
    int64_t ignored = 0;
    return digitsAt(s, at, ignored);
}

// The number after `key` that ends in `unit` ("timeout " 60000 " ms"); -1 when absent.
int64_t numberAfter(string_view s, string_view key, string_view unit) {
    const std::size_t at = find(s, key);
    if (at == string_view::npos) {
        return -1;
    }
    int64_t value = 0;
    const std::size_t n = digitsAt(s, at + key.size(), value);
    return n > 0 && s.substr(at + key.size() + n, unit.size()) == unit ? value : -1;
}

// ---- Prefixes ----------------------------------------------------------------------------

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

string_view token(string_view t) {
    return t.substr(0, std::min(t.find(' '), t.size()));
}

// The program a tag names: "kernel:" is kernel, "ltfs[1234]:" is ltfs.
string_view program(string_view tag) {
    tag.remove_suffix(1);
    const std::size_t open = tag.find('[');
    return open == string_view::npos ? tag : tag.substr(0, open);
}

enum class Origin { Kernel, Other, Repeated };

void skipSpace(string_view& t) {
    if (!t.empty() && t[0] == ' ') {
        t.remove_prefix(1);
    }
}

// After a syslog or journal stamp: "host tag: ", "tag: " or, without the host, " tag: ".
Origin afterStamp(string_view& t) {
    if (t.empty() || t[0] != ' ') {
        return Origin::Other;
    }
    t.remove_prefix(1);
    skipSpace(t);
    string_view tag = token(t);
    if (tag.empty() || tag.back() != ':') {
        t.remove_prefix(std::min(tag.size() + 1, t.size()));  // the host
        tag = token(t);
    }
    if (startsWith(t, "last message repeated ")) {
        return Origin::Repeated;  // syslog's own rate limiting
    }
    if (tag.empty() || tag.back() != ':' || program(tag) != "kernel") {
        return Origin::Other;
    }
    t.remove_prefix(std::min(tag.size() + 1, t.size()));
    return Origin::Kernel;
}

// "[ 1234.5] ", and after it, with journalctl -o short-monotonic, "host kernel: ". Another
// program's tag there is "name[PID]:", which no kernel device prefix looks like.
Origin afterBracketStamp(string_view& t) {
    skipSpace(t);
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
    return tag[tag.size() - 2] == ']' ? Origin::Other : Origin::Kernel;
}

// Takes the prefixes off `t`, leaving the kernel's message; `stamp` is the first timestamp.
Origin stripPrefixes(string_view& t, string_view& stamp) {
    if (t.size() >= 3 && t[0] == '<' && isDigit(t[1]) && t[2] == '>') {
        t.remove_prefix(3);  // a console level
    }
    std::size_t n = syslogStamp(t);
    n = n > 0 ? n : isoStamp(t);
    n = n > 0 ? n : unixStamp(t);
    if (n > 0) {
        stamp = t.substr(0, n);
        t.remove_prefix(n);
        const Origin origin = afterStamp(t);
        if (origin != Origin::Kernel) {
            return origin;
        }
    } else if (startsWith(t, "kernel: ")) {
        t.remove_prefix(8);
    }
    n = bracketStamp(t);
    if (n == 0) {
        return Origin::Kernel;
    }
    if (stamp.empty()) {
        stamp = t.substr(1, n - 2);  // as printed, without the brackets and padding
        while (!stamp.empty() && stamp[0] == ' ') {
            stamp.remove_prefix(1);
        }
    }
    t.remove_prefix(n);
    return afterBracketStamp(t);
}

// ---- Device prefixes ---------------------------------------------------------------------

// "d+:d+:d+:d+" at `at`; its length, or 0.
std::size_t hctlAt(string_view s, std::size_t at) {
    std::size_t n = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t d = digitsAt(s, at + n);
        if (d == 0) {
            return 0;
        }
        n += d;
        if (part < 3) {
            if (at + n >= s.size() || s[at + n] != ':') {
                return 0;
            }
            ++n;
        }
    }
    return n;
}

// "<driver> H:C:T:L: ", "scsiH:C:T:L: " or "stN: ", then "[name] " and "tag#N ".
bool devicePrefix(string_view msg, DevicePrefix& out) {
    std::size_t word = 0;
    while (word < msg.size() && word < 8 && isLower(msg[word])) {
        ++word;
    }
    if (word == 0 || word >= msg.size()) {
        return false;
    }
    std::size_t end = 0;  // of the printed device, before its ':'
    if (msg[word] == ' ') {
        const std::size_t n = hctlAt(msg, word + 1);
        if (n == 0) {
            return false;
        }
        out.hctl = msg.substr(word + 1, n);
        end = word + 1 + n;
    } else if (isDigit(msg[word])) {
        const std::size_t n = hctlAt(msg, word);
        if (n > 0) {
            out.hctl = msg.substr(word, n);  // aic7xxx: "scsi1:0:6:0"
            end = word + n;
        } else {
            end = word + digitsAt(msg, word);  // "st0"
        }
    } else {
        return false;
    }
    if (end + 1 >= msg.size() || msg[end] != ':' || msg[end + 1] != ' ') {
        return false;
    }
    out.printed = msg.substr(0, end);
    string_view rest = msg.substr(end + 2);
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.substr(0, 24).find("] ");
        if (close != string_view::npos) {
            rest.remove_prefix(close + 2);
        }
    }
    if (startsWith(rest, "tag#")) {
        int64_t tag = 0;
        const std::size_t n = digitsAt(rest, 4, tag);
        if (n > 0 && 4 + n < rest.size() && rest[4 + n] == ' ') {
            out.tag = static_cast<long>(tag);
            rest.remove_prefix(4 + n + 1);
        }
    }
    out.rest = rest;
    return true;
}

// ---- CDB lines ---------------------------------------------------------------------------

// "opcode=0x92" or "cdb[0]=0x28": the code as the kernel spells it out; -1 when absent.
int explicitOpcode(string_view cdb) {
    for (const string_view key : {string_view("opcode=0x"), string_view("cdb[0]=0x")}) {
        const std::size_t at = find(cdb, key);
        if (at == string_view::npos) {
            continue;
        }
        const string_view digits = cdb.substr(at + key.size(), 3);
        int value = 0;
        std::size_t n = 0;
        while (n < digits.size() && hexDigit(digits[n]) >= 0) {
            value = value * 16 + hexDigit(digits[n++]);
        }
        return n > 0 && n <= 2 ? value : -1;
    }
    return -1;
}

// A byte as CDB lines print it: "8c", or a host driver's "0x1" and "0x7f"; -1 for anything else.
int cdbByte(string_view tok) {
    const bool prefixed = startsWith(tok, "0x") || startsWith(tok, "0X");
    if (prefixed) {
        tok.remove_prefix(2);
    }
    if (tok.size() == 1 && prefixed && hexDigit(tok[0]) >= 0) {
        return hexDigit(tok[0]);
    }
    if (tok.size() == 2 && hexDigit(tok[0]) >= 0 && hexDigit(tok[1]) >= 0) {
        return hexDigit(tok[0]) * 16 + hexDigit(tok[1]);
    }
    return -1;
}

// The CDB's first byte in the text after "CDB:" or "CDB[00]:": the explicit "opcode=0x.." or
// "cdb[0]=0x..", else the first of the bytes that end the line ("8c 00 ..." or "0x11 0x1 ...").
// The name before them is the kernel's, wrong for tape commands, and never used. -1: none.
int cdbOpcode(string_view cdb) {
    const int spelled = explicitOpcode(cdb);
    if (spelled >= 0) {
        return spelled;
    }
    int first = -1;
    std::size_t end = cdb.size();  // walking the tokens back from the end while they are bytes
    for (;;) {
        while (end > 0 && cdb[end - 1] == ' ') {
            --end;
        }
        const std::size_t space = end > 0 ? cdb.rfind(' ', end - 1) : string_view::npos;
        const std::size_t begin = space == string_view::npos ? 0 : space + 1;
        const int byte = end > 0 ? cdbByte(cdb.substr(begin, end - begin)) : -1;
        if (byte < 0) {
            return first;
        }
        first = byte;
        end = begin;
    }
}

// What follows a CDB line's "CDB" in a line that is one: the text after its colon; "CDB[10]:"
// (the rest of a long CDB) and "CDB: <name>" without bytes give -1 later.
bool cdbText(string_view rest, string_view& cdb) {
    if (startsWith(rest, "CDB: ")) {
        cdb = rest.substr(5);
        return true;
    }
    if (startsWith(rest, "CDB[00]: ")) {
        cdb = rest.substr(9);
        return true;
    }
    return startsWith(rest, "CDB");  // another CDB line: not a pairing
}

enum class Kind { None, Abort, TimeoutError, Failed, Completion, TimingOut, StError };

// What a line after its device prefix says. Only lines with a device prefix get here.
Kind kindOf(string_view rest) {
    if (contains(rest, "attempting task abort") || contains(rest, "uas_eh_abort_handler") ||
        contains(rest, "queue an ABORT message")) {
        return Kind::Abort;
    }
    if (contains(rest, "TIMEOUT_ERROR")) {
        return Kind::TimeoutError;
    }
    const std::size_t result = find(rest, "Result:");
    if (result != string_view::npos) {
        const std::size_t host = find(rest.substr(result), "hostbyte=");
        if (host != string_view::npos) {
            const string_view value = token(rest.substr(result + host + 9));
            if (startsWith(value, "DID_TIME_OUT") || startsWith(value, "0x03 ") ||
                value == "0x03" || startsWith(value, "0x3 ") || value == "0x3") {
                return Kind::Failed;
            }
        }
        return Kind::Completion;
    }
    if (contains(rest, "timing out command")) {
        return Kind::TimingOut;
    }
    if (startsWith(rest, "Error ")) {
        return Kind::StError;
    }
    return Kind::None;
}

// st's "Error 30000 (...)" and "Error 26030000": the host byte is bits 16 to 23.
bool stErrorTimedOut(string_view rest) {
    uint64_t value = 0;
    std::size_t n = 0;
    for (std::size_t i = 6; i < rest.size() && n < 9 && hexDigit(rest[i]) >= 0; ++i, ++n) {
        value = value * 16 + static_cast<uint64_t>(hexDigit(rest[i]));
    }
    return n > 0 && ((value >> 16) & 0xFF) == 0x03;
}

// "scmd(0x...)" or "(sc=...)": the command's address.
string_view commandAddress(string_view rest) {
    for (const string_view key : {string_view("scmd("), string_view("(sc=")}) {
        const std::size_t at = find(rest, key);
        if (at != string_view::npos) {
            const string_view from = rest.substr(at + key.size());
            return from.substr(0, std::min(from.find(')'), std::size_t{32}));
        }
    }
    return {};
}

string_view cut(string_view text) {
    return text.substr(0, max_text);
}

std::string field(string_view text) {
    return std::string(text.substr(0, max_field));
}

}  // namespace

// ---- The scanner -------------------------------------------------------------------------

void KernelLogScanner::startFile(int file) {
    finish();
    devices_.clear();  // a command never pairs across files
    file_ = file;
    line_ = 0;
}

void KernelLogScanner::finish() {
    for (LogDevice& d : devices_) {
        settle(d.pending);
        d.last_open = false;
    }
    settle(anonymous_);
    recent_ = SIZE_MAX;
}

void KernelLogScanner::line(string_view text) {
    ++line_;
    ++findings_.lines;
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    if (!text.empty() && text[0] == '{') {
        jsonLine(text);
        return;
    }
    string_view stamp;
    const Origin origin = stripPrefixes(text, stamp);
    if (origin == Origin::Kernel) {
        message({text, stamp});
    } else if (origin == Origin::Repeated) {
        findings_.rate_limited = true;
    }
}

// journalctl -o json: one object per line, the message in MESSAGE (byte values where it is not
// UTF-8). Only lines that may matter are parsed.
void KernelLogScanner::jsonLine(string_view text) {
    static const string_view keys[] = {"\"MESSAGE\":[", "CDB",           "abort",   "ABORT",
                                       "Abort",         "TIMEOUT_ERROR", "Result:", "timing out",
                                       "Error ",        "suppressed"};
    if (std::none_of(std::begin(keys), std::end(keys),
                     [&](string_view k) { return contains(text, k); })) {
        return;
    }
    const auto j = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (!j.is_object()) {
        return;
    }
    for (const char* origin : {"_TRANSPORT", "SYSLOG_IDENTIFIER"}) {
        const auto it = j.find(origin);
        if (it != j.end() && (!it->is_string() || it->get<std::string>() != "kernel")) {
            return;
        }
    }
    std::string msg;
    const auto m = j.find("MESSAGE");
    if (m == j.end()) {
        return;
    }
    if (m->is_string()) {
        msg = m->get<std::string>();
    } else if (m->is_array()) {
        for (const auto& b : *m) {
            if (!b.is_number_unsigned() || b.get<unsigned>() > 255) {
                return;
            }
            msg += static_cast<char>(b.get<unsigned>());
        }
    } else {
        return;
    }
    std::string stamp;
    const auto ts = j.find("__REALTIME_TIMESTAMP");
    if (ts != j.end() && ts->is_string()) {
        stamp = ts->get<std::string>();
    }
    message({msg, stamp});
}

std::size_t KernelLogScanner::device(string_view hctl) {
    std::size_t oldest = 0;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].hctl == hctl.substr(0, max_field)) {
            devices_[i].seen = line_;
            return i;
        }
        if (devices_[i].seen < devices_[oldest].seen) {
            oldest = i;
        }
    }
    if (devices_.size() < max_devices) {
        devices_.emplace_back();
        oldest = devices_.size() - 1;
    } else {
        // recent_ may still point here; it counts only for the very next line, and this
        // line is not that.
        settle(devices_[oldest].pending);
        devices_[oldest] = LogDevice{};
    }
    devices_[oldest].hctl = field(hctl);
    devices_[oldest].seen = line_;
    return oldest;
}

void KernelLogScanner::settle(PendingEvent& p) {
    if (p.active && !p.repeat) {
        unnamed(p.file, p.line, p.device, p.text);
    }
    p = PendingEvent{};
}

void KernelLogScanner::unnamed(int file, uint64_t line, string_view device, string_view text) {
    ++findings_.unnamed;
    if (findings_.first_unnamed.size() < KernelLogFindings::unnamed_kept) {
        findings_.first_unnamed.push_back({file, line, field(device), std::string(cut(text))});
    }
}

void KernelLogScanner::named(PendingEvent& p, unsigned char opcode) {
    ++findings_.events;
    CodeEvidence& c = findings_.codes[opcode];
    ++c.events;
    LogEvent e;
    e.file = p.file;
    e.line = p.line;
    e.opcode = opcode;
    e.device = p.device;
    e.timestamp = p.timestamp;
    e.timeout_ms = p.timeout_ms;
    e.cmd_age_ms = p.cmd_age_ms;
    if (e.expired() < 0) {
        c.some_printed_none = true;
    }
    c.longest_expired_ms = std::max(c.longest_expired_ms, e.expired());
    if (e.timeout_ms >= 0) {
        c.shortest_timeout_ms = c.shortest_timeout_ms < 0
                                    ? e.timeout_ms
                                    : std::min(c.shortest_timeout_ms, e.timeout_ms);
        c.longest_timeout_ms = std::max(c.longest_timeout_ms, e.timeout_ms);
    }
    if (e.cmd_age_ms >= 0) {
        c.shortest_cmd_age_ms = c.shortest_cmd_age_ms < 0
                                    ? e.cmd_age_ms
                                    : std::min(c.shortest_cmd_age_ms, e.cmd_age_ms);
    }
    if (c.first.size() < CodeEvidence::kept) {
        c.first.push_back(std::move(e));
    } else if (e.expired() > c.first.back().expired() &&
               std::none_of(c.first.begin(), c.first.end() - 1,
                            [&](const LogEvent& k) { return k.expired() >= e.expired(); })) {
        c.first.back() = std::move(e);  // the event that decides E stays in the evidence
    }
}

void KernelLogScanner::message(const LogLine& line) {
    DevicePrefix dev;
    const bool has_device = devicePrefix(line.message, dev);
    const string_view msg = line.message;
    const bool host_driver =
        !has_device &&
        (startsWith(msg, "mptscsih: ") || startsWith(msg, "qla2xxx [") || startsWith(msg, "CDB") ||
         startsWith(msg, "printk: ") || startsWith(msg, "scsi_"));
    if (!has_device && !host_driver) {
        return;  // the prefilter: most lines are other subsystems'
    }
    ++scsi_lines_;
    if (anonymous_.active && scsi_lines_ > anonymous_at_ + 1) {
        settle(anonymous_);  // an abort without a device whose CDB line did not follow
    }
    if (has_device) {
        deviceLine(dev, line.stamp);
    } else {
        hostDriverLine(line);
    }
}

// Lines without H:C:T:L: mptscsih's abort, qla2xxx's, a bare CDB line, rate limiting.
void KernelLogScanner::hostDriverLine(const LogLine& line) {
    const string_view msg = line.message;
    string_view cdb;
    if (startsWith(msg, "mptscsih: ") && contains(msg, "attempting task abort")) {
        settle(anonymous_);
        PendingEvent& p = anonymous_;
        const string_view ioc = token(msg.substr(10));  // "ioc0:"
        p.active = true;
        p.file = file_;
        p.line = line_;
        p.device = "mptscsih " + field(ioc.substr(0, ioc.size() - 1));
        p.timestamp = field(line.stamp);
        p.text = std::string(cut(msg));
        p.scmd = std::string(commandAddress(msg));
        anonymous_at_ = scsi_lines_;
    } else if (startsWith(msg, "qla2xxx [") && contains(msg, "Abort command issued")) {
        const std::size_t colon = find(msg, ": Abort");
        unnamed(file_, line_, msg.substr(0, colon), msg.substr(colon + 2));
    } else if (cdbText(msg, cdb)) {
        cdbLine(SIZE_MAX, {}, -1, cdb);
    } else if (contains(msg, " suppressed")) {
        findings_.rate_limited = true;
    }
}

void KernelLogScanner::deviceLine(const DevicePrefix& dev, string_view stamp) {
    string_view cdb;
    if (cdbText(dev.rest, cdb)) {
        cdbLine(dev.hctl.empty() ? SIZE_MAX : device(dev.hctl), dev.printed, dev.tag, cdb);
        return;
    }
    const Kind kind = kindOf(dev.rest);
    if (kind == Kind::TimingOut || (kind == Kind::StError && stErrorTimedOut(dev.rest))) {
        unnamed(file_, line_, dev.printed, dev.rest);
        return;
    }
    if (kind == Kind::None || kind == Kind::StError || dev.hctl.empty()) {
        return;
    }
    const std::size_t d = device(dev.hctl);
    if (kind == Kind::Completion) {
        settle(devices_[d].pending);  // the CDB line that follows is this completion's
        devices_[d].last_open = false;
        return;
    }
    startEvent(d, dev, kind == Kind::Abort, stamp);
}

// A timed-out command on a device, waiting for its CDB line.
void KernelLogScanner::startEvent(std::size_t d, const DevicePrefix& dev, bool abort,
                                  string_view stamp) {
    LogDevice& device = devices_[d];
    const string_view scmd = commandAddress(dev.rest);
    if (device.pending.active && !scmd.empty() && device.pending.scmd == scmd) {
        return;  // the same abort again before its CDB line
    }
    settle(device.pending);
    PendingEvent& p = device.pending;
    p.active = true;
    p.file = file_;
    p.line = line_;
    p.tag = dev.tag;
    p.device = field(dev.printed);
    p.timestamp = field(stamp);
    p.text = std::string(cut(dev.rest));
    p.scmd = std::string(scmd);
    const bool same_tag = dev.tag < 0 || device.last_tag < 0 || dev.tag == device.last_tag;
    if (!scmd.empty() && scmd == device.last_scmd) {
        p.repeat = true;  // retried or escalated: one timeout
    } else if (device.last_open && (scmd.empty() || device.last_scmd.empty()) && same_tag) {
        p.maybe_repeat = true;
    }
    if (abort) {
        p.timeout_ms = numberAfter(dev.rest, "timeout ", " ms");
    } else {
        const int64_t age = numberAfter(dev.rest, "cmd_age=", "s");
        p.cmd_age_ms = age >= 0 ? age * 1000 : -1;
    }
    recent_ = d;
    recent_at_ = scsi_lines_;
}

void KernelLogScanner::cdbLine(std::size_t d, string_view printed, long tag, string_view cdb) {
    const int opcode = cdbOpcode(cdb);
    if (opcode < 0) {
        return;  // "CDB: <name>" of a long CDB, its continuation lines, or damaged text
    }
    LogDevice* device = d != SIZE_MAX ? &devices_[d] : nullptr;
    PendingEvent* p = nullptr;
    // Tags are reused: the pending event takes the next CDB line with its tag, no earlier.
    if (device != nullptr && device->pending.active &&
        (device->pending.tag < 0 || tag < 0 || device->pending.tag == tag)) {
        p = &device->pending;
    } else if (device == nullptr && recent_ != SIZE_MAX && recent_at_ + 1 == scsi_lines_ &&
               devices_[recent_].pending.active) {
        device = &devices_[recent_];  // "CDB: 0x11 ..." right after its device's abort
        p = &device->pending;
    } else if (anonymous_.active && anonymous_at_ + 1 == scsi_lines_) {
        p = &anonymous_;
        if (!printed.empty()) {
            p->device = std::string(printed);
        }
    } else {
        return;  // a completion's CDB line
    }
    const bool repeat =
        p->repeat || (p->maybe_repeat && device != nullptr && device->last_opcode == opcode);
    if (!repeat) {
        named(*p, static_cast<unsigned char>(opcode));
    }
    if (device != nullptr) {
        device->last_scmd = p->scmd;
        device->last_open = true;
        device->last_opcode = opcode;
        device->last_tag = p->tag;
    }
    *p = PendingEvent{};
}

long readSome(int fd, char* data, std::size_t size, std::string& error) {
    ssize_t n = 0;
    do {
        n = ::read(fd, data, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error = std::strerror(errno);
    }
    return static_cast<long>(n);
}

bool scanKernelLog(int fd, KernelLogScanner& scanner, std::string& error) {
    constexpr std::size_t buffer_size = std::size_t{1} << 20;
    std::vector<char> buffer(buffer_size);
    std::size_t have = 0;
    bool skipping = false;  // the rest of a line longer than the buffer
    for (;;) {
        const long n = readSome(fd, buffer.data() + have, buffer_size - have, error);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
        std::size_t start = 0;
        while (const void* nl = std::memchr(buffer.data() + start, '\n', have - start)) {
            const std::size_t end =
                static_cast<std::size_t>(static_cast<const char*>(nl) - buffer.data());
            if (!skipping) {
                scanner.line(string_view(buffer.data() + start, end - start));
            }
            skipping = false;
            start = end + 1;
        }
        if (start == 0 && have == buffer_size) {
            if (!skipping) {
                scanner.line(string_view(buffer.data(), have));  // its first megabyte
            }
            skipping = true;
            have = 0;
            continue;
        }
        std::memmove(buffer.data(), buffer.data() + start, have - start);
        have -= start;
    }
    if (have > 0 && !skipping) {
        scanner.line(string_view(buffer.data(), have));
    }
    return true;
}

}  // namespace scsi_timeouts_tool
