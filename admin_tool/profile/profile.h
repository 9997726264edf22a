// A profile: what the registry must hold, one value a line (NAME = DURATION or default), or the
// same as JSON ({"values": {NAME: DURATION, seconds or "default"}}). It is checked whole: every
// error is reported with its line, and a profile with any error is not used at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "value_names.h"

namespace scsi_timeouts_tool {

constexpr std::size_t profile_size_limit = std::size_t{1024} * 1024;

struct ProfileEntry {
    int line;
    ValueName name;   // the registry value, as set (or, for default, reset) takes the name
    bool to_default;  // `default`: as reset leaves it
    int32_t seconds;  // else the DURATION's seconds
};

struct ProfileError {
    std::string file;
    int line;  // 0: the whole file (too big, not text)
    std::string message;
};

struct Profile {
    std::vector<ProfileEntry> entries;  // in the file's order, one per registry value
    std::vector<ProfileError> errors;   // in line order
};

// The profile in `bytes`, named `file` in its errors. JSON when its first non-blank byte is '{'.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): what is parsed, then what it is called
Profile parseProfile(const std::string& bytes, const std::string& file);

// Reads PATH ("-": standard input) and parses it; a file that cannot be read is an error of
// the profile, without a line.
Profile readProfile(const std::string& path);

// "FILE:LINE: message", or "FILE: message" for the whole file.
std::string errorLine(const ProfileError& e);

// The parts the two forms share. `value` is the text of a value (trimmed); `line` its line.
class ProfileBuilder {
  public:
    ProfileBuilder(Profile& profile, std::string file)
        : profile_(profile), file_(std::move(file)) {}
    void add(int line, const std::string& name, const std::string& value);
    void error(int line, const std::string& message);

  private:
    Profile& profile_;
    std::string file_;
};

// The JSON form, into `builder`.
void parseJsonProfile(const std::string& bytes, ProfileBuilder& builder);

}  // namespace scsi_timeouts_tool
