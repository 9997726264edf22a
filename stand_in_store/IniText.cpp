#include "IniText.h"

#include <algorithm>
#include <utility>

namespace qrlib_stand_in::ini {

Text split(const std::string& content) {
    Text text;
    std::size_t pos = 0;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text.bom = content.substr(0, 3);
        pos = 3;
    }
    text.lines.reserve(static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) +
                       1);
    while (pos < content.size()) {
        const std::size_t nl = std::min(content.find('\n', pos), content.size());
        Line line{content.substr(pos, nl - pos), nl < content.size() ? "\n" : ""};
        if (!line.end.empty() && !line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.end = "\r\n";
        }
        text.lines.push_back(std::move(line));
        pos = nl + 1;
    }
    return text;
}

std::string join(const Text& text) {
    std::string out = text.bom;
    for (const Line& line : text.lines) {
        out.append(line.text).append(line.end);
    }
    return out;
}

namespace {

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

const char* const not_a_line = "not a [section] or name=value";

// A header may end in a comment: "[ScsiTimeouts] ; tuned" names ScsiTimeouts.
Entry meaningOf(const std::string& text) {
    const std::string line = trim(text);
    if (line.empty() || line[0] == '#' || line[0] == ';') {
        return {Entry::Blank, {}, 0, {}, ""};
    }
    if (line[0] == '[') {
        const std::size_t close = line.find(']');
        const std::string name = close != std::string::npos ? trim(line.substr(1, close - 1)) : "";
        const std::string rest = close != std::string::npos ? trim(line.substr(close + 1)) : "";
        if (name.empty() || (!rest.empty() && rest[0] != '#' && rest[0] != ';')) {
            return {Entry::Unreadable, {}, 0, {}, not_a_line};
        }
        return {Entry::Section, name, 0, {}, ""};
    }
    const std::size_t eq = text.find('=');
    const std::string name = trim(text.substr(0, eq));
    if (eq == std::string::npos || name.empty()) {
        return {Entry::Unreadable, {}, 0, {}, not_a_line};
    }
    return {Entry::Value, name, eq, {}, ""};
}

}  // namespace

// A header that does not parse still ends the section above it: the values under it belong to
// no key, so that none of them is read, or edited, as a value of the section before.
std::vector<Entry> readEntries(const Text& text) {
    std::vector<Entry> entries;
    entries.reserve(text.lines.size());
    std::string section;
    bool unnamed = false;  // under a header that does not parse
    for (const Line& line : text.lines) {
        Entry e = meaningOf(line.text);
        if (e.kind == Entry::Section ||
            (e.kind == Entry::Unreadable && trim(line.text)[0] == '[')) {
            section = e.name;
            unnamed = e.kind == Entry::Unreadable;
        } else if (e.kind == Entry::Value && section.empty()) {
            const char* why = unnamed ? "a value under a [section] line that does not parse"
                                      : "a value before any [section]";
            e = {Entry::Unreadable, {}, 0, {}, why};
        }
        e.section = section;
        entries.push_back(std::move(e));
    }
    return entries;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): key, name is every platform call's order
const std::string* find(const Values& values, const std::string& key, const std::string& name) {
    const auto section = values.find(key);
    if (section == values.end()) {
        return nullptr;
    }
    const auto value = section->second.find(name);
    return value == section->second.end() ? nullptr : &value->second;
}

Values valuesOf(const Text& text, const std::vector<Entry>& entries) {
    Values values;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].kind == Entry::Value) {
            values[entries[i].section][entries[i].name] =
                text.lines[i].text.substr(entries[i].eq + 1);
        }
    }
    return values;
}

void setValue(Text& text, const std::vector<Entry>& entries, const std::string& key,
              const std::string& name, const std::string& value) {
    std::size_t found = std::string::npos;
    std::size_t after = std::string::npos;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (e.section == key && (e.kind == Entry::Section || e.kind == Entry::Value)) {
            after = i;
            found = e.kind == Entry::Value && e.name == name ? i : found;
        }
    }
    if (found != std::string::npos) {
        Line& line = text.lines[found];
        line.text = line.text.substr(0, entries[found].eq + 1) + value;
        return;
    }
    std::string end = "\n";
    for (const Line& line : text.lines) {
        if (!line.end.empty()) {
            end = line.end;
            break;
        }
    }
    std::vector<Line> added = {{name + "=" + value, end}};
    if (after == std::string::npos) {
        added.insert(added.begin(), {"[" + key + "]", end});
        after = text.lines.size() - 1;  // wraps to npos on an empty file: inserts at the start
    }
    if (after != std::string::npos && text.lines[after].end.empty()) {
        text.lines[after].end = end;
    }
    text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(after + 1), added.begin(),
                      added.end());
}

}  // namespace qrlib_stand_in::ini
