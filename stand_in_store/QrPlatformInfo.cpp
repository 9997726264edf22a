// Stand-in for the platform library's configuration store, for development and tests.
// Values live in memory, keyed by (key, name). When QRLIB_STAND_IN_FILE names a file, every
// construction loads the store from it and every write saves it back, in this format:
//
//   # comment
//   [ScsiTimeouts]
//   REWIND=900
//
// A value is the whole rest of its line after the first '=', white space included.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "QrLibControl.h"
#include "QrPlatformInfo.h"

namespace {

using Store = std::map<std::string, std::map<std::string, std::string>>;

struct State {
    std::mutex mutex;
    Store store;
    std::vector<qrlib_stand_in::StoreCall> calls;
    int constructions = 0;
    int live = 0;
    int failing_constructions = 0;
    int fail_at_call = 0;  // 0: none
    std::chrono::microseconds construction_delay{0};
};

State& state() {
    static State s;
    return s;
}

const char* storeFile() {
    const char* path = std::getenv("QRLIB_STAND_IN_FILE");
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

void loadFile(const char* path, Store& store) {
    std::ifstream in(path);
    if (!in) {
        return;  // not there yet: created at the first write
    }
    store.clear();
    std::string line;
    std::string key;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line[0] == '[' && line.back() == ']') {
            key = line.substr(1, line.size() - 2);
        } else if (const auto eq = line.find('='); eq != std::string::npos && !key.empty()) {
            store[key][line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
}

void saveFile(const char* path, const Store& store) {
    std::ofstream out(path, std::ios::trunc);
    for (const auto& [key, values] : store) {
        out << '[' << key << "]\n";
        for (const auto& [name, text] : values) {
            out << name << '=' << text << '\n';
        }
    }
}

const std::string* findValue(const Store& store, const std::string& key, const std::string& name) {
    const auto k = store.find(key);
    if (k == store.end()) {
        return nullptr;
    }
    const auto v = k->second.find(name);
    return v == k->second.end() ? nullptr : &v->second;
}

// Logs the call and throws when it is the one chosen to fail. Caller holds the mutex.
void countCall(State& s, qrlib_stand_in::StoreCall call) {
    s.calls.push_back(std::move(call));
    if (s.fail_at_call > 0 && --s.fail_at_call == 0) {
        throw std::runtime_error("stand-in store: injected store failure");
    }
}

}  // namespace

QrPlatformInfo::QrPlatformInfo() : impl_(&state()) {
    State& s = state();
    std::chrono::microseconds delay;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        delay = s.construction_delay;
    }
    std::this_thread::sleep_for(delay);
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.failing_constructions > 0) {
        --s.failing_constructions;
        throw std::runtime_error("stand-in store: injected construction failure");
    }
    if (const char* path = storeFile()) {
        loadFile(path, s.store);
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
    countCall(s, {qrlib_stand_in::StoreCall::Get, key, name, *size, {}});
    const std::string* text = findValue(s.store, key, name);
    if (text == nullptr) {
        return 0;
    }
    if (*size > 0) {
        const std::size_t n = std::min(text->size(), static_cast<std::size_t>(*size) - 1);
        std::memcpy(buffer, text->data(), n);
        buffer[n] = '\0';
    }
    return 1;
}

int QrPlatformInfo::setString(const char* key, const char* name, const char* text, int size) {
    State& s = *static_cast<State*>(impl_);
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::string value(text, size > 0 ? strnlen(text, static_cast<std::size_t>(size)) : 0);
    countCall(s, {qrlib_stand_in::StoreCall::Set, key, name, size, value});
    // One line per value in the file: a written text ends at its first line break.
    s.store[key][name] = value.substr(0, value.find_first_of("\r\n"));
    if (const char* path = storeFile()) {
        saveFile(path, s.store);
    }
    return 1;
}

namespace qrlib_stand_in {

void reset() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.store.clear();
    s.calls.clear();
    s.failing_constructions = 0;
    s.fail_at_call = 0;
    s.construction_delay = std::chrono::microseconds{0};
}

void seed(const std::string& key, const std::string& name, const std::string& text) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.store[key][name] = text;
}

std::optional<std::string> value(const std::string& key, const std::string& name) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::string* text = findValue(s.store, key, name);
    return text != nullptr ? std::optional<std::string>(*text) : std::nullopt;
}

std::vector<StoreCall> calls() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

int constructions() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.constructions;
}

int liveObjects() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.live;
}

void failConstruction(int count) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.failing_constructions = count;
}

void failStoreCall(int n) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.fail_at_call = n;
}

void delayConstruction(std::chrono::microseconds delay) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.construction_delay = delay;
}

}  // namespace qrlib_stand_in
