#include "journal_record.h"

#include <algorithm>
#include <iterator>
#include <nlohmann/json.hpp>

#include "log_text.h"

namespace scsi_timeouts_tool {

namespace {

// Whether MESSAGE holds an array, with white space as a writer puts it: "MESSAGE" : [.
bool byteValues(std::string_view line) {
    const std::size_t at = find(line, "\"MESSAGE\"");
    if (at == std::string_view::npos) {
        return false;
    }
    std::size_t i = at + 9;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == ':')) {
        ++i;
    }
    return i < line.size() && line[i] == '[';
}

}  // namespace

bool journalMessage(std::string_view line, std::string& message, std::string& stamp) {
    // Only lines that may matter are parsed: a MESSAGE of byte values hides its words.
    static const std::string_view keys[] = {
        "CDB",     "abort",      "ABORT",  "Abort",     "TIMEOUT_ERROR",
        "Result:", "timing out", "Error ", "suppressed"};
    if (std::none_of(std::begin(keys), std::end(keys),
                     [&](std::string_view k) { return contains(line, k); }) &&
        !byteValues(line)) {
        return false;
    }
    const auto j = nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
    if (!j.is_object()) {
        return false;
    }
    for (const char* origin : {"_TRANSPORT", "SYSLOG_IDENTIFIER"}) {
        const auto it = j.find(origin);
        if (it != j.end() && (!it->is_string() || it->get<std::string>() != "kernel")) {
            return false;
        }
    }
    const auto m = j.find("MESSAGE");
    if (m == j.end()) {
        return false;
    }
    message.clear();
    if (m->is_string()) {
        message = m->get<std::string>();
    } else if (m->is_array()) {
        for (const auto& b : *m) {
            if (!b.is_number_unsigned() || b.get<unsigned>() > 255) {
                return false;
            }
            message += static_cast<char>(b.get<unsigned>());
        }
    } else {
        return false;
    }
    stamp.clear();
    const auto ts = j.find("__REALTIME_TIMESTAMP");
    if (ts != j.end() && ts->is_string()) {
        stamp = ts->get<std::string>();
    }
    return true;
}

}  // namespace scsi_timeouts_tool
