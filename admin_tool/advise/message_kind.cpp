#include "message_kind.h"

#include "hex_digit.h"
#include "log_text.h"

namespace scsi_timeouts_tool {

namespace {

using std::string_view;

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
bool devicePrefix(string_view msg, Message& out) {
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
    out.device = msg.substr(0, end);
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
    out.text = rest;
    return true;
}

// "opcode=0x92" or "cdb[0]=0x28": the code as the kernel spells it out; -1 when absent.
int explicitOpcode(string_view cdb) {
    for (const string_view key : {string_view("opcode=0x"), string_view("cdb[0]=0x")}) {
        const std::size_t at = find(cdb, key);
        if (at != string_view::npos) {
            uint64_t value = 0;
            const std::size_t n = hexNumber(cdb.substr(at + key.size()), 3, value);
            return n > 0 && n <= 2 ? static_cast<int>(value) : -1;
        }
    }
    return -1;
}

// A byte as CDB lines print it: "8c", or a host driver's "0x1" and "0x7f"; -1 for anything else.
int cdbByte(string_view tok) {
    const bool prefixed = startsWith(tok, "0x") || startsWith(tok, "0X");
    if (prefixed) {
        tok.remove_prefix(2);
    }
    uint64_t value = 0;
    const std::size_t n = hexNumber(tok, 2, value);
    const bool whole = n == tok.size() && (n == 2 || (n == 1 && prefixed));
    return whole ? static_cast<int>(value) : -1;
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

// st's "Error 30000 (...)" and "Error 26030000": the host byte is bits 16 to 23.
bool stErrorTimedOut(string_view rest) {
    uint64_t value = 0;
    const std::size_t n = hexNumber(rest.substr(6), 9, value);
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

// A CDB line: its operation code, or the name that stands first when the CDB is longer than 16.
// False when `text` is no CDB line.
bool cdbMessage(string_view text, Message& m) {
    string_view cdb;
    if (!cdbText(text, cdb)) {
        return false;
    }
    m.opcode = cdbOpcode(cdb);
    m.kind = m.opcode < 0 && startsWith(text, "CDB: ") ? MessageKind::CdbHead : MessageKind::Cdb;
    return true;
}

// What a line says after its device prefix.
MessageKind deviceKind(string_view rest) {
    if (contains(rest, "attempting task abort") || contains(rest, "uas_eh_abort_handler") ||
        contains(rest, "queue an ABORT message")) {
        return MessageKind::Abort;
    }
    if (contains(rest, "TIMEOUT_ERROR")) {
        return MessageKind::TimeoutError;
    }
    const std::size_t result = find(rest, "Result:");
    if (result != string_view::npos) {
        const std::size_t host = find(rest.substr(result), "hostbyte=");
        if (host != string_view::npos) {
            const string_view value = token(rest.substr(result + host + 9));
            if (startsWith(value, "DID_TIME_OUT") || value == "0x03" || value == "0x3") {
                return MessageKind::TimedOutResult;
            }
        }
        return MessageKind::Completion;
    }
    if (contains(rest, "timing out command")) {
        return MessageKind::TimingOut;
    }
    if (startsWith(rest, "Error ")) {
        return stErrorTimedOut(rest) ? MessageKind::StTimedOut : MessageKind::Other;
    }
    return MessageKind::Other;
}

// Lines without H:C:T:L: mptscsih's abort, qla2xxx's, a bare CDB line, rate limiting.
Message hostDriverMessage(string_view msg) {
    Message m;
    m.text = msg;
    if (!startsWith(msg, "mptscsih: ") && !startsWith(msg, "qla2xxx [") &&
        !startsWith(msg, "CDB") && !startsWith(msg, "printk: ") && !startsWith(msg, "scsi_")) {
        return m;  // the prefilter: most lines are other subsystems'
    }
    m.kind = MessageKind::Other;
    if (startsWith(msg, "mptscsih: ") && contains(msg, "attempting task abort")) {
        m.kind = MessageKind::HostAbort;
        const string_view ioc = token(msg.substr(10));  // "ioc0:"
        m.device = ioc.substr(0, ioc.size() - 1);
        m.address = commandAddress(msg);
    } else if (startsWith(msg, "qla2xxx [") && contains(msg, "Abort command issued")) {
        // "qla2xxx [0000:49:00.0]-801c:4: Abort ...": the adapter and host, then the message.
        const string_view adapter = token(msg.substr(8));
        m.kind = MessageKind::Unnamed;
        m.device = msg.substr(0, 8 + adapter.size() - (adapter.back() == ':' ? 1 : 0));
        m.text = msg.substr(std::min(msg.size(), 8 + adapter.size() + 1));
    } else if (cdbMessage(msg, m)) {
        return m;
    } else if (contains(msg, " suppressed")) {
        m.kind = MessageKind::RateLimited;
    }
    return m;
}

}  // namespace

int cdbOpcode(string_view cdb) {
    const int spelled = explicitOpcode(cdb);
    if (spelled >= 0) {
        return spelled;
    }
    // The first of the bytes that end the line ("8c 00 ..." or "0x11 0x1 ..."), walking the
    // tokens back from the end while they are bytes. The name before them is the kernel's,
    // wrong for tape commands, and never used.
    int first = -1;
    std::size_t end = cdb.size();
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

Message classifyMessage(string_view message) {
    Message m;
    if (!devicePrefix(message, m)) {
        return hostDriverMessage(message);
    }
    if (cdbMessage(m.text, m)) {
        return m;
    }
    m.kind = deviceKind(m.text);
    m.address = commandAddress(m.text);
    if (m.kind == MessageKind::Abort) {
        m.timeout_ms = numberAfter(m.text, "timeout ", " ms");
    } else {
        const int64_t age = numberAfter(m.text, "cmd_age=", "s");
        m.cmd_age_ms = age >= 0 ? age * 1000 : -1;
    }
    return m;
}

}  // namespace scsi_timeouts_tool
