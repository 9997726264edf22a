// The profile's text form, what both forms check, and reading the file.
#include "profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "duration.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n\f\v";
    const std::size_t first = text.find_first_not_of(space);
    return first == std::string::npos
               ? std::string()
               : text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool isDefault(const std::string& value) {
    return value.size() == 7 && std::equal(value.begin(), value.end(), "default",
                                           [](char a, char b) { return (a | 0x20) == b; });
}

std::string shown(const ProfileEntry& e) {
    return e.to_default ? "default" : unitsText(e.seconds);
}

// Text: no NUL byte, and well-formed UTF-8 (names and durations are ASCII; comments may not be).
bool isText(const std::string& bytes) {
    if (bytes.find('\0') != std::string::npos) {
        return false;
    }
    try {
        static_cast<void>(nlohmann::json(bytes).dump());
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

void parseText(const std::string& bytes, ProfileBuilder& builder) {
    std::size_t start = 0;
    for (int line = 1; start < bytes.size(); ++line) {
        std::size_t end = bytes.find('\n', start);
        end = end == std::string::npos ? bytes.size() : end;
        std::string text = bytes.substr(start, end - start);
        start = end + 1;
        text = trimmed(text.substr(0, text.find('#')));  // a comment, and a CR before the LF
        if (text.empty()) {
            continue;
        }
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) {
            builder.error(line, "not NAME = VALUE: " + quoted(text.c_str()));
            continue;
        }
        builder.add(line, trimmed(text.substr(0, equals)), trimmed(text.substr(equals + 1)));
    }
}

}  // namespace

void ProfileBuilder::error(int line, const std::string& message) {
    profile_.errors.push_back({file_, line, message});
}

void ProfileBuilder::add(int line, const std::string& name, const std::string& value) {
    ProfileEntry entry{line, resolveName(name.c_str()), isDefault(value), 0};
    bool good = true;
    if (entry.to_default && entry.name.error == NameError::NamedDecides) {
        entry.name = perCodeValue(static_cast<unsigned char>(entry.name.opcode));  // as reset
    }
    if (entry.name.error != NameError::None) {
        error(line, nameErrorText(name.c_str(), entry.name));
        good = false;
    }
    if (!entry.to_default) {
        const Duration d = parseDuration(value.c_str());
        entry.seconds = d.seconds;
        if (d.error != DurationError::None) {
            error(line, "not a DURATION or default: " + quoted(value.c_str()) + ": " +
                            durationErrorText(d.error, value.c_str()));
            good = false;
        }
    }
    if (!good) {
        return;
    }
    const auto same = std::find_if(
        profile_.entries.begin(), profile_.entries.end(),
        [&](const ProfileEntry& e) { return std::strcmp(e.name.value, entry.name.value) == 0; });
    if (same == profile_.entries.end()) {
        profile_.entries.push_back(entry);
    } else if (same->to_default != entry.to_default || same->seconds != entry.seconds) {
        error(line, std::string(entry.name.value) + " is given two values: " + shown(*same) +
                        " on line " + std::to_string(same->line) + ", " + shown(entry) +
                        " on line " + std::to_string(line));
    }
}

std::string errorLine(const ProfileError& e) {
    return terminalSafe(e.file + (e.line > 0 ? ":" + std::to_string(e.line) : std::string()) +
                        ": " + e.message);
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): what is parsed, then what it is called
Profile parseProfile(const std::string& bytes, const std::string& file) {
    Profile profile;
    ProfileBuilder builder(profile, file);
    if (bytes.size() > profile_size_limit) {
        builder.error(0, "larger than 1 MiB: not a profile");
        return profile;
    }
    if (!isText(bytes)) {
        builder.error(0, "not a text file (a NUL byte, or not UTF-8)");
        return profile;
    }
    // A byte-order mark, as some editors write one, is not part of the first line.
    const std::size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::size_t first = bytes.find_first_not_of(" \t\r\n\f\v", skip);
    if (first != std::string::npos && bytes[first] == '{') {
        parseJsonProfile(bytes.substr(skip), builder);
    } else {
        parseText(bytes.substr(skip), builder);
    }
    std::stable_sort(profile.errors.begin(), profile.errors.end(),
                     [](const ProfileError& a, const ProfileError& b) { return a.line < b.line; });
    return profile;
}

Profile readProfile(const std::string& path) {
    const bool standard_input = path == "-";
    const std::string file = standard_input ? "(standard input)" : path;
    const int fd = standard_input ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string bytes;
    int error = fd < 0 ? errno : 0;
    char buffer[65536];
    while (error == 0 && bytes.size() <= profile_size_limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    if (fd > STDIN_FILENO) {
        ::close(fd);
    }
    if (error != 0) {
        Profile profile;
        profile.errors.push_back({file, 0, std::string("cannot read: ") + std::strerror(error)});
        return profile;
    }
    return parseProfile(bytes, file);
}

}  // namespace scsi_timeouts_tool
