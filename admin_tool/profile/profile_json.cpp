// The profile's JSON form: {"values": {NAME: DURATION, seconds or "default"}}, read as events
// so that every value keeps the line of its name. "skipped", which export --json adds, is
// ignored; any other key is an error.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "profile.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

using Json = nlohmann::json;

// The profile's bytes, counting the line ends the parser has taken.
struct CountingIterator {
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;
    const char* at;
    int* lines;
    reference operator*() const { return *at; }
    CountingIterator& operator++() {
        *lines += *at == '\n' ? 1 : 0;
        ++at;
        return *this;
    }
    bool operator==(const CountingIterator& other) const { return at == other.at; }
    bool operator!=(const CountingIterator& other) const { return at != other.at; }
};

const char form[] = "a JSON profile is {\"values\": {NAME: DURATION, seconds or \"default\"}}";

class Events : public nlohmann::json_sax<Json> {
  public:
    Events(ProfileBuilder& builder, const int& lines) : builder_(builder), lines_(lines) {}

    bool null() override { return scalar("null"); }
    bool boolean(bool /*value*/) override { return scalar("true or false"); }
    bool number_integer(number_integer_t value) override { return number(std::to_string(value)); }
    bool number_unsigned(number_unsigned_t value) override { return number(std::to_string(value)); }
    bool number_float(number_float_t /*value*/, const string_t& text) override {
        return scalar(nullptr) && (!inValues() || fail("not whole seconds: " + text));
    }
    bool string(string_t& value) override {
        if (scalar(nullptr) && inValues()) {
            builder_.add(key_line_, key_, value);
        }
        return true;
    }
    bool binary(binary_t& /*value*/) override { return scalar("binary"); }
    bool start_object(std::size_t /*elements*/) override { return open(true); }
    bool start_array(std::size_t /*elements*/) override { return open(false); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& value) override {
        if (ignored()) {
            return true;
        }
        const int line = lines_ + 1;  // a name holds no line end: the parser is at its end
        if (depth_ == 1) {
            values_ = value == "values";
            if (!values_ && value != "skipped") {
                builder_.error(line, "unknown key " + quoted(value.c_str()) + "; " + form);
            }
        } else {
            key_ = value;
            key_line_ = line;
        }
        return true;
    }
    bool parse_error(std::size_t /*position*/, const std::string& /*last_token*/,
                     const nlohmann::detail::exception& e) override {
        const char* what = e.what();
        const char* at = std::strstr(what, " at line ");
        const int line =
            at != nullptr ? static_cast<int>(std::strtol(at + 9, nullptr, 10)) : lines_ + 1;
        const char* syntax = std::strstr(what, "syntax error");
        builder_.error(line, std::string("not valid JSON: ") + (syntax != nullptr ? syntax : what));
        return false;
    }

  private:
    bool ignored() const { return ignore_from_ > 0 && depth_ >= ignore_from_; }
    bool inValues() const { return depth_ == 2 && values_ && !ignored(); }
    bool fail(const std::string& message) {
        builder_.error(key_line_, quoted(key_.c_str()) + ": " + message);
        return true;
    }
    // A scalar where it stands; `what` names it for an error (nullptr: the caller says).
    bool scalar(const char* what) {
        if (ignored() || (depth_ == 1 && !values_)) {
            return true;
        }
        if (depth_ == 0 || depth_ == 1) {
            builder_.error(lines_ + 1, form);
        } else if (what != nullptr && inValues()) {
            fail(std::string(what) + " is not a DURATION, a number of seconds or \"default\"");
        }
        return true;
    }
    bool number(const std::string& text) {
        if (scalar(nullptr) && inValues()) {
            builder_.add(key_line_, key_, text);  // -5 and 0 are refused as set refuses them
        }
        return true;
    }
    bool open(bool object) {
        const bool wanted = object && (depth_ == 0 || (depth_ == 1 && values_));
        if (!ignored() && !wanted) {
            if (inValues()) {
                fail("an object or array is not a DURATION, a number of seconds or \"default\"");
            } else if (depth_ == 0 || values_) {
                builder_.error(lines_ + 1, form);
            }
            ignore_from_ = depth_ + 1;
        }
        ++depth_;
        return true;
    }
    bool close() {
        --depth_;
        if (ignore_from_ > 0 && depth_ < ignore_from_) {
            ignore_from_ = 0;
        }
        return true;
    }

    ProfileBuilder& builder_;
    const int& lines_;
    int depth_ = 0;
    int ignore_from_ = 0;  // events at this depth or deeper are ignored; 0: none
    bool values_ = false;  // at depth 1: under "values"
    std::string key_;
    int key_line_ = 0;
};

}  // namespace

void parseJsonProfile(const std::string& bytes, ProfileBuilder& builder) {
    int lines = 0;
    Events events(builder, lines);
    const char* begin = bytes.data();
    Json::sax_parse(CountingIterator{begin, &lines}, CountingIterator{begin + bytes.size(), &lines},
                    &events);
}

}  // namespace scsi_timeouts_tool
