// Stand-in for the platform library's configuration store, for development and tests. Values
// live in memory, keyed by (key, name). When QRLIB_STAND_IN_FILE names a file, every construction
// loads the store from it and every write changes that one value in the file (IniText.h gives the
// format, StoreFile.h how the file is read and replaced). Without it, nothing is kept beyond the
// process: its later objects see what earlier ones wrote, and no other process does.
#include "QrPlatformInfo.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "IniText.h"
#include "QrLibControl.h"
#include "StandInState.h"
#include "StoreFile.h"

namespace qrlib_stand_in {

State& state() {
    static State s;
    return s;
}

namespace {

const char* storeFile() {
    const char* path = std::getenv("QRLIB_STAND_IN_FILE");
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

// Hand-edited files go wrong: say so, but only once per line, not at every load and write
// (which move it when they add lines above it).
void reportUnreadable(State& s, const char* path, const ini::Text& text,
                      const std::vector<ini::Entry>& entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& line = text.lines[i].text;
        if (entries[i].kind == ini::Entry::Unreadable &&
            s.reported.insert(std::string(path) + '\n' + line).second) {
            std::fprintf(stderr, "stand-in store: %s:%zu: ignored, %s: %s\n", path, i + 1,
                         entries[i].why, line.c_str());
        }
    }
}

// A file that does not exist leaves the store as it was; one that cannot be read throws.
void load(State& s, const char* path) {
    std::string content;
    if (!file::readFile(path, content)) {
        return;
    }
    const ini::Text text = ini::split(content);
    const std::vector<ini::Entry> entries = ini::readEntries(text);
    reportUnreadable(s, path, text, entries);
    s.store = ini::valuesOf(text, entries);
}

bool save(State& s, const char* path, const std::string& key, const std::string& name,
          const std::string& value) {
    return file::save(
        path,
        [&](const std::string& content) {
            ini::Text text = ini::split(content);
            const std::vector<ini::Entry> entries = ini::readEntries(text);
            reportUnreadable(s, path, text, entries);
            ini::setValue(text, entries, key, name, value);
            return ini::join(text);
        },
        [&s](SavePoint at) {
            if (at == s.save_hold) {  // the test that asked kills this process here
                [[maybe_unused]] const ssize_t told = ::write(s.save_hold_fd, "!", 1);
                for (;;) {
                    ::pause();
                }
            }
        });
}

// Logs the call and throws when it is the one chosen to fail. Caller holds the mutex.
void countCall(State& s, StoreCall call) {
    s.calls.push_back(std::move(call));
    if (s.fail_at_call > 0 && --s.fail_at_call == 0) {
        throw std::runtime_error("stand-in store: injected store failure");
    }
}

}  // namespace
}  // namespace qrlib_stand_in

using qrlib_stand_in::State;
using qrlib_stand_in::StoreCall;

QrPlatformInfo::QrPlatformInfo() : impl_(&qrlib_stand_in::state()) {
    State& s = *static_cast<State*>(impl_);
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        hook.swap(s.construction_hook);
    }
    if (hook) {
        hook();
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.failing_constructions > 0) {
        --s.failing_constructions;
        throw std::runtime_error("stand-in store: injected construction failure");
    }
    if (const char* path = qrlib_stand_in::storeFile()) {
        qrlib_stand_in::load(s, path);
    }
    ++s.constructions;
    ++s.live;
}

QrPlatformInfo::~QrPlatformInfo() {
    State& s = *static_cast<State*>(impl_);
    std::lock_guard<std::mutex> lock(s.mutex);
    --s.live;
}

int QrPlatformInfo::getString(const char* key, const char* name, char* buffer, int* size) {
    State& s = *static_cast<State*>(impl_);
    std::lock_guard<std::mutex> lock(s.mutex);
    qrlib_stand_in::countCall(s, {StoreCall::Get, key, name, *size, {}});
    const std::string* text = qrlib_stand_in::ini::find(s.store, key, name);
    if (text == nullptr) {
        return 0;
    }
    std::size_t copied = 0;
    if (*size > 0) {
        const std::size_t room = static_cast<std::size_t>(*size);
        const bool fits = text->size() < room;
        copied = fits ? text->size() : s.omit_nul_when_cut ? room : room - 1;
        std::memcpy(buffer, text->data(), copied);
        if (copied < room && !(fits && s.omit_nul_when_short)) {
            buffer[copied] = '\0';
        }
    }
    if (s.report_copied_size) {
        *size = static_cast<int>(copied);
    }
    return s.found;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the platform's signature
int QrPlatformInfo::setString(const char* key, const char* name, const char* text, int size) {
    State& s = *static_cast<State*>(impl_);
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string value(text, size > 0 ? strnlen(text, static_cast<std::size_t>(size)) : 0);
    qrlib_stand_in::countCall(s, {StoreCall::Set, key, name, size, value});
    if (s.drop_writes) {
        return 1;
    }
    // One line per value in the file: a written text ends at its first line break.
    value.erase(std::min(value.find_first_of("\r\n"), value.size()));
    const char* path = qrlib_stand_in::storeFile();
    if (path != nullptr && !qrlib_stand_in::save(s, path, key, name, value)) {
        return 0;
    }
    s.store[key][name] = value;
    return 1;
}
