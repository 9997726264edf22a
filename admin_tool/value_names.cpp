#include "value_names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hex_digit.h"
#include "scsi_commands.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

namespace qst = qr_scsi_timeouts;

constexpr int max_matches = sizeof(ValueName::matches) / sizeof(NameMatch);

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Letters and digits only, in lower case: "Locate (16)" is "locate16".
std::string normalise(const char* text) {
    std::string out;
    for (const char* p = text; *p != 0; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x80 && std::isalnum(c) != 0) {
            out += static_cast<char>(std::tolower(c));
        }
    }
    return out;
}

int namedIndex(unsigned char opcode) {
    for (int i = 0; i < qst::named_count; ++i) {
        if (qst::default_timeout_arr[i].opcode == opcode) {
            return i;
        }
    }
    return -1;
}

ValueName blank(NameError error) {
    ValueName v{};
    v.error = error;
    v.opcode = -1;
    v.named = -1;
    v.def = qst::no_default;
    return v;
}

ValueName defaultValue() {
    ValueName v = blank(NameError::None);
    std::snprintf(v.value, sizeof v.value, "DEFAULT");
    v.def = qst::builtin_default_timeout;
    return v;
}

// One way of naming a value, as matched against what was typed.
struct Spelling {
    const char* spelled;
    std::string norm;
    std::string base;  // norm without a size suffix: "locate" for LOCATE(16)
    ValueName target;
};

std::string baseOf(const char* name) {
    const char* open = std::strrchr(name, '(');
    return open != nullptr && name[std::strlen(name) - 1] == ')'
               ? normalise(std::string(name, open).c_str())
               : normalise(name);
}

// DEFAULT, the named commands, the SCSI command names in opcode order, then the kernel's: the
// order of close matches at equal distance.
const std::vector<Spelling>& spellings() {
    static const std::vector<Spelling> all = [] {
        std::vector<Spelling> out;
        out.push_back({"DEFAULT", "default", "default", defaultValue()});
        for (const qst::ScsiTimeoutEntry& e : qst::default_timeout_arr) {
            const std::string norm = normalise(e.name);
            out.push_back({e.name, norm, norm, decidingValue(e.opcode)});
        }
        for (const CommandName& c : command_names) {
            out.push_back({c.name, normalise(c.name), baseOf(c.name), decidingValue(c.opcode)});
        }
        for (const KernelName& k : kernel_names) {
            Spelling s{k.name, normalise(k.name), baseOf(k.name), decidingValue(k.opcode)};
            s.target.kernel = &k;
            out.push_back(s);
        }
        return out;
    }();
    return all;
}

// Edits, with a swap of neighbours as one ("defualt").
std::size_t distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

void addMatch(ValueName& v, const Spelling& s) {
    for (int i = 0; i < v.match_count; ++i) {
        if (std::strcmp(v.matches[i].value, s.target.value) == 0) {
            return;  // one value, one mention
        }
    }
    if (v.match_count < max_matches) {
        NameMatch& m = v.matches[v.match_count++];
        m.spelled = s.spelled;
        std::snprintf(m.value, sizeof m.value, "%s", s.target.value);
    }
}

// Close: within a third of the length, one edit at least, against the name or its base. No
// listed name is near a long text.
ValueName closeMatches(const std::string& norm) {
    const std::vector<Spelling>& all = spellings();
    if (norm.size() > 64) {
        return blank(NameError::Unknown);
    }
    const std::size_t limit = std::max<std::size_t>(1, norm.size() / 3);
    // Two texts whose lengths differ by more than the limit are further apart than that.
    const auto within = [&](const std::string& name) {
        const std::size_t gap =
            name.size() > norm.size() ? name.size() - norm.size() : norm.size() - name.size();
        return gap <= limit ? distance(norm, name) : limit + 1;
    };
    std::vector<std::pair<std::size_t, std::size_t>> near;  // distance, index
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::size_t d = std::min(within(all[i].norm), within(all[i].base));
        if (d <= limit) {
            near.emplace_back(d, i);
        }
    }
    std::stable_sort(near.begin(), near.end());
    ValueName unknown = blank(NameError::Unknown);
    for (const auto& n : near) {
        addMatch(unknown, all[n.second]);
    }
    return unknown;
}

// What the spellings say about a normalised name: one value, several, or close ones. The exact
// name first ("verify" is VERIFY), then the name without its size ("locate").
ValueName byName(const std::string& norm) {
    for (const bool by_base : {false, true}) {
        ValueName found = blank(NameError::Unknown);
        const Spelling* first = nullptr;
        for (const Spelling& s : spellings()) {
            if ((by_base ? s.base : s.norm) == norm) {
                addMatch(found, s);
                first = first != nullptr ? first : &s;
            }
        }
        if (found.match_count == 1) {
            return first->target;
        }
        if (found.match_count > 1) {
            found.error = NameError::Ambiguous;
            return found;
        }
    }
    return closeMatches(norm);
}

// An operation code as a whole number: 0x.., or decimal digits. False when the text is not one.
bool byNumber(const std::string& text, ValueName& out) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::size_t from = hex ? 2 : 0;
    if (text.size() == from) {
        return false;
    }
    if (!hex && text.size() == 2 && hexDigit(text[0]) >= 0 && hexDigit(text[1]) >= 0 &&
        (hexDigit(text[0]) > 9 || hexDigit(text[1]) > 9)) {
        out = blank(NameError::BareHexByte);  // "8c", as the kernel prints it
        out.opcode = hexDigit(text[0]) * 16 + hexDigit(text[1]);
        return true;
    }
    unsigned long value = 0;  // saturates at 256
    unsigned long octal = 0;
    unsigned long as_hex = 0;
    std::size_t significant = 0;
    bool octal_digits = true;
    for (std::size_t i = from; i < text.size(); ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0 || (!hex && d > 9)) {
            return false;
        }
        value = std::min(value * (hex ? 16 : 10) + static_cast<unsigned long>(d), 256ul);
        octal = std::min(octal * 8 + static_cast<unsigned long>(d), 256ul);
        as_hex = std::min(as_hex * 16 + static_cast<unsigned long>(d), 256ul);
        octal_digits = octal_digits && d < 8;
        significant += significant > 0 || d != 0 ? 1 : 0;
    }
    if (!hex && significant == 2) {
        out = blank(NameError::HexOrDecimal);  // "92": the kernel's 0x92, or decimal 92?
        out.opcode = static_cast<int>(value);
        out.named = static_cast<int>(as_hex);  // the hexadecimal reading, for the message
    } else if (value > 255) {
        out = blank(NameError::NotAnOpcode);
    } else if (!hex && text[0] == '0' && octal_digits && octal != value) {
        out = blank(NameError::OctalOrDecimal);
        out.opcode = static_cast<int>(value);
    } else {
        out = decidingValue(static_cast<unsigned char>(value));
    }
    return true;
}

// cdb_9a, CDB-9A, "cdb 5": a per-code value, refused where a named value wins.
bool byPerCodeName(const std::string& norm, ValueName& out) {
    if (norm.size() < 4 || norm.size() > 5 || norm.compare(0, 3, "cdb") != 0) {
        return false;
    }
    uint64_t code = 0;
    if (hexNumber(std::string_view(norm).substr(3), 2, code) != norm.size() - 3) {
        return false;
    }
    out = decidingValue(static_cast<unsigned char>(code));
    if (out.named >= 0) {
        out.error = NameError::NamedDecides;
    }
    return true;
}

}  // namespace

ValueName decidingValue(unsigned char opcode) {
    ValueName v = blank(NameError::None);
    v.opcode = opcode;
    v.named = namedIndex(opcode);
    if (v.named >= 0) {
        std::snprintf(v.value, sizeof v.value, "%s", qst::default_timeout_arr[v.named].name);
        v.def = qst::default_timeout_arr[v.named].timeout;
    } else {
        std::snprintf(v.value, sizeof v.value, "CDB_%02X", opcode);
    }
    return v;
}

ValueName perCodeValue(unsigned char opcode) {
    ValueName v = blank(NameError::None);
    v.opcode = opcode;
    std::snprintf(v.value, sizeof v.value, "CDB_%02X", opcode);
    return v;
}

std::string kernelNote(const ValueName& name) {
    if (name.kernel == nullptr) {
        return "";
    }
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(name.kernel->opcode));
    return std::string(code) + " (the kernel's \"" + name.kernel->name + "\") is " +
           name.kernel->command + " on " + name.kernel->device;
}

ValueName resolveName(const char* text) {
    std::string trimmed = text;
    trimmed.erase(0, std::min(trimmed.size(), trimmed.find_first_not_of(" \t\n\r\f\v")));
    while (!trimmed.empty() && isSpace(trimmed.back())) {
        trimmed.pop_back();
    }
    ValueName out;
    if (byNumber(trimmed, out)) {
        return out;
    }
    const std::string norm = normalise(text);
    if (norm.empty()) {
        return blank(NameError::Empty);
    }
    if (byPerCodeName(norm, out)) {
        return out;
    }
    return byName(norm);
}

std::string nameErrorText(const char* text, const ValueName& name) {
    std::string out;
    const auto listMatches = [&](const char* lead) {
        for (int i = 0; i < name.match_count; ++i) {
            const NameMatch& m = name.matches[i];
            out += i == 0 ? lead : ", ";
            out += m.spelled;
            if (std::strcmp(m.spelled, m.value) != 0) {
                out += " (" + std::string(m.value) + ")";
            }
        }
    };
    char buffer[160];
    switch (name.error) {
        case NameError::None:
            break;
        case NameError::Empty:
            out = "no name given: DEFAULT, a command (REWIND), CDB_xx, 0x.. or a SCSI command name";
            break;
        case NameError::Unknown:
            out = "unknown name " + quoted(text);
            listMatches("; close matches: ");
            break;
        case NameError::Ambiguous:
            out = "ambiguous name " + quoted(text);
            listMatches(": it could be ");
            break;
        case NameError::NotAnOpcode:
            out = quoted(text) + " is not an operation code (0 to 255, or 0x00 to 0xFF)";
            break;
        case NameError::HexOrDecimal:
            // The text as typed may be long ("00092"): only the numbers go through the buffer.
            std::snprintf(buffer, sizeof buffer,
                          ": write 0x%02X for the byte the kernel prints, or 0x%02X for decimal %d",
                          static_cast<unsigned>(name.named), static_cast<unsigned>(name.opcode),
                          name.opcode);
            out = terminalSafe(text) + buffer;
            break;
        case NameError::BareHexByte:
            std::snprintf(buffer, sizeof buffer, ": write 0x%02X for the byte the kernel prints",
                          static_cast<unsigned>(name.opcode));
            out = quoted(text) + buffer;
            break;
        case NameError::OctalOrDecimal:
            std::snprintf(buffer, sizeof buffer, "write %d for decimal, or 0x%02X", name.opcode,
                          static_cast<unsigned>(std::strtoul(text, nullptr, 8)));
            out = quoted(text) + " has a leading zero: " + buffer;
            break;
        case NameError::NamedDecides:
            std::snprintf(buffer, sizeof buffer,
                          "CDB_%02X would never be used: %s decides 0x%02X (a named command's "
                          "value always wins)",
                          static_cast<unsigned>(name.opcode), name.value,
                          static_cast<unsigned>(name.opcode));
            out = buffer;
            break;
    }
    return out;
}

std::vector<std::string> misspellings(const char* value_name) {
    std::vector<std::string> out;
    const auto add = [&](const std::string& s) {
        if (s != value_name && std::find(out.begin(), out.end(), s) == out.end()) {
            out.push_back(s);
        }
    };
    std::string lower = value_name;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string capitalised = lower;
    if (!capitalised.empty()) {
        capitalised[0] =
            static_cast<char>(std::toupper(static_cast<unsigned char>(capitalised[0])));
    }
    add(lower);
    add(capitalised);
    const std::size_t n = std::strlen(value_name);
    if (n == 6 && std::strncmp(value_name, "CDB_", 4) == 0 && hexDigit(value_name[4]) >= 0 &&
        hexDigit(value_name[5]) >= 0) {
        const std::string digits(value_name + 4);
        const std::string lower_digits = lower.substr(4);
        add("cdb_" + digits);
        add("CDB_" + lower_digits);
        if (digits[0] == '0') {
            add("CDB_" + digits.substr(1));
            add("CDB_" + lower_digits.substr(1));
        }
    }
    return out;
}

std::vector<std::string> listedNames() {
    std::vector<std::string> out;
    for (const Spelling& s : spellings()) {
        if (std::find(out.begin(), out.end(), s.spelled) == out.end()) {
            out.emplace_back(s.spelled);  // REWIND is a value's name and a command's
        }
    }
    out.emplace_back("CDB_");
    return out;
}

}  // namespace scsi_timeouts_tool
