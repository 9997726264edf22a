// The stand-in's file format, as pure functions over its text:
//
//   # comment
//   [ScsiTimeouts]  ; a header may end in a comment
//   REWIND=900
//
// A value is the whole rest of its line after the first '=', white space included; names and
// section headers are trimmed. A '[' line that is not a header still ends the section above it,
// and the values under it belong to no key. Every byte is kept (a BOM, CRLF, comments, lines that
// mean nothing), so that an edit gives back all it did not change.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace qrlib_stand_in::ini {

struct Line {
    std::string text;
    std::string end;  // "\n", "\r\n", or "" for a last line without one
};

struct Text {
    std::string bom;
    std::vector<Line> lines;
};

// join(split(content)) == content, for any bytes.
Text split(const std::string& content);
std::string join(const Text& text);

// What one line means, read in the context of the lines above it.
struct Entry {
    enum Kind { Blank, Section, Value, Unreadable } kind;
    std::string name;      // the section's or the value's, trimmed
    std::size_t eq = 0;    // Value: where its '=' stands
    std::string section;   // the one the line stands in
    const char* why = "";  // Unreadable: for the administrator
};

// One entry per line.
std::vector<Entry> readEntries(const Text& text);

using Values = std::map<std::string, std::map<std::string, std::string>>;  // key, name: text

// The text of `name` under `key`, or nullptr.
const std::string* find(const Values& values, const std::string& key, const std::string& name);

// The values the lines hold; of a name given twice in a section, the last.
Values valuesOf(const Text& text, const std::vector<Entry>& entries);

// Sets one value (a single line of text). The line it stands on keeps everything up to its '='.
// A new value goes after the last value of its section (its last one, if it appears twice), or
// into a new section at the end; new lines end as the file's lines do.
void setValue(Text& text, const std::vector<Entry>& entries, const std::string& key,
              const std::string& name, const std::string& value);

}  // namespace qrlib_stand_in::ini
