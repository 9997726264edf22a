// Stand-in for the platform library's configuration store, for development and tests.
// Values live in memory, keyed by (key, name). When QRLIB_STAND_IN_FILE names a file, every
// construction loads the store from it and every write changes that one value in the file:
//
//   # comment
//   [ScsiTimeouts]
//   REWIND=900
//
// A value is the whole rest of its line after the first '=', white space included. Several
// processes write the same file at once (each first lookup writes markers) while administrators
// edit it by hand. So a write re-reads the file under a lock, changes only its own line, and puts
// the new file in place by rename: no edit is lost, and readers and crashes see whole files only.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

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
    std::chrono::microseconds save_delay{0};
    bool report_copied_size = false;
    bool omit_nul_when_cut = false;
    bool drop_writes = false;
    std::set<std::string> reported;  // unreadable lines already told about, by file
};

State& state() {
    static State s;
    return s;
}

const char* storeFile() {
    const char* path = std::getenv("QRLIB_STAND_IN_FILE");
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

// ---- The file as lines: every byte is kept, so a write can give back all it did not change.

struct Line {
    std::string text;
    std::string end;  // "\n", "\r\n", or "" for a last line without one
};

struct File {
    std::string bom;
    std::vector<Line> lines;
};

File splitLines(const std::string& content) {
    File file;
    std::size_t pos = 0;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        file.bom = content.substr(0, 3);
        pos = 3;
    }
    file.lines.reserve(static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) +
                       1);
    while (pos < content.size()) {
        const std::size_t nl = std::min(content.find('\n', pos), content.size());
        Line line{content.substr(pos, nl - pos), nl < content.size() ? "\n" : ""};
        if (!line.end.empty() && !line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.end = "\r\n";
        }
        file.lines.push_back(std::move(line));
        pos = nl + 1;
    }
    return file;
}

std::string joinLines(const File& file) {
    std::string out = file.bom;
    for (const Line& line : file.lines) {
        out.append(line.text).append(line.end);
    }
    return out;
}

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

struct Entry {
    enum Kind { Blank, Section, Value, Unreadable } kind;
    std::string name;     // the section's or the value's, trimmed
    std::size_t eq = 0;   // Value: where its '=' stands
    std::string section;  // the one the line stands in
};

Entry meaningOf(const std::string& text) {
    const std::string line = trim(text);
    if (line.empty() || line[0] == '#' || line[0] == ';') {
        return {Entry::Blank, {}, 0, {}};
    }
    if (line[0] == '[') {
        const std::string name = line.back() == ']' ? trim(line.substr(1, line.size() - 2)) : "";
        return {name.empty() ? Entry::Unreadable : Entry::Section, name, 0, {}};
    }
    const std::size_t eq = text.find('=');
    const std::string name = trim(text.substr(0, eq));
    if (eq == std::string::npos || name.empty()) {
        return {Entry::Unreadable, {}, 0, {}};
    }
    return {Entry::Value, name, eq, {}};
}

// Hand-edited files go wrong: say so, but only once per line, not at every load and write
// (which move it when they add lines above it).
void reportUnreadable(State& s, const char* path, std::size_t index, const std::string& text,
                      const char* why) {
    if (s.reported.insert(std::string(path) + '\n' + text).second) {
        std::fprintf(stderr, "stand-in store: %s:%zu: ignored, %s: %s\n", path, index + 1, why,
                     text.c_str());
    }
}

std::vector<Entry> readEntries(State& s, const char* path, const File& file) {
    std::vector<Entry> entries;
    entries.reserve(file.lines.size());
    std::string section;
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        Entry e = meaningOf(file.lines[i].text);
        if (e.kind == Entry::Section) {
            section = e.name;
        } else if (e.kind == Entry::Value && section.empty()) {
            reportUnreadable(s, path, i, file.lines[i].text, "a value before any [section]");
            e.kind = Entry::Unreadable;
        } else if (e.kind == Entry::Unreadable) {
            reportUnreadable(s, path, i, file.lines[i].text, "not a [section] or name=value");
        }
        e.section = section;
        entries.push_back(std::move(e));
    }
    return entries;
}

// The line the value stands on keeps everything up to its '='. A new value goes after the last
// value of its section (its last one, if it appears twice), or into a new section at the end.
void setValue(State& s, const char* path, File& file, const std::string& key,
              const std::string& name, const std::string& text) {
    const std::vector<Entry> entries = readEntries(s, path, file);
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
        Line& line = file.lines[found];
        line.text = line.text.substr(0, entries[found].eq + 1) + text;
        return;
    }
    std::string end = "\n";  // new lines end as the file's lines do
    for (const Line& line : file.lines) {
        if (!line.end.empty()) {
            end = line.end;
            break;
        }
    }
    std::vector<Line> added = {{name + "=" + text, end}};
    if (after == std::string::npos) {
        added.insert(added.begin(), {"[" + key + "]", end});
        after = file.lines.size() - 1;  // wraps to npos on an empty file: inserts at the start
    }
    if (after != std::string::npos && file.lines[after].end.empty()) {
        file.lines[after].end = end;
    }
    file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(after + 1), added.begin(),
                      added.end());
}

// ---- Reading and replacing the file.

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

bool readAll(int fd, std::string& out) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
        out.append(chunk, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    }
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        done += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    }
    return true;
}

void loadFile(State& s, const char* path) {
    const Fd in{::open(path, O_RDONLY | O_CLOEXEC)};
    std::string content;
    if (in.fd < 0 || !readAll(in.fd, content)) {
        if (errno != ENOENT) {  // a missing file is an empty store, created at the first write
            std::fprintf(stderr, "stand-in store: cannot read %s: %s\n", path,
                         std::strerror(errno));
        }
        return;
    }
    const File file = splitLines(content);
    const std::vector<Entry> entries = readEntries(s, path, file);
    s.store.clear();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].kind == Entry::Value) {
            s.store[entries[i].section][entries[i].name] =
                file.lines[i].text.substr(entries[i].eq + 1);
        }
    }
}

// Locks the file itself. A writer that waited for the lock may hold a file that has been
// replaced meanwhile: it then locks the one now at the path.
int lockFile(const char* path) {
    for (;;) {
        const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            return -1;
        }
        struct stat locked {};
        struct stat current {};
        if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &locked) != 0) {
            const int err = errno;
            ::close(fd);
            if (err != EINTR) {
                errno = err;
                return -1;
            }
            continue;
        }
        if (::stat(path, &current) == 0 && current.st_dev == locked.st_dev &&
            current.st_ino == locked.st_ino) {
            return fd;
        }
        ::close(fd);
    }
}

bool saveFailed(const char* path, int err, const std::string& temp = {}) {
    if (!temp.empty()) {
        ::unlink(temp.c_str());
    }
    std::fprintf(stderr, "stand-in store: cannot save %s: %s\n", path, std::strerror(err));
    return false;
}

// The new content goes to a file beside the old one and replaces it by rename, so a crash at any
// point leaves the old file or the new one. The lock is held from the read to the rename.
bool saveValue(State& s, const char* given_path, const std::string& key, const std::string& name,
               const std::string& text) {
    // A symlinked file is replaced where it lives, so the link keeps pointing at the store.
    char resolved[PATH_MAX];
    const char* path = ::realpath(given_path, resolved) != nullptr ? resolved : given_path;
    const Fd file{lockFile(path)};
    struct stat st {};
    std::string content;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !readAll(file.fd, content)) {
        return saveFailed(path, errno);
    }
    File lines = splitLines(content);
    setValue(s, path, lines, key, name, text);

    std::string temp = std::string(path) + ".tmpXXXXXX";
    Fd out{::mkstemp(&temp[0])};
    if (out.fd < 0) {
        return saveFailed(path, errno);
    }
    // The owner is kept where this process may keep it (root); otherwise the file becomes its own.
    if (::fchown(out.fd, st.st_uid, st.st_gid) != 0) {
        errno = 0;
    }
    if (::fchmod(out.fd, st.st_mode & 07777) != 0 || !writeAll(out.fd, joinLines(lines)) ||
        ::fsync(out.fd) != 0 || ::close(std::exchange(out.fd, -1)) != 0) {
        return saveFailed(path, errno, temp);
    }
    std::this_thread::sleep_for(s.save_delay);
    if (::rename(temp.c_str(), path) != 0) {
        return saveFailed(path, errno, temp);
    }
    // Makes the rename itself durable; a folder that cannot be synced still has the new file.
    const std::string folder = std::string(path).substr(0, std::string(path).rfind('/') + 1);
    const Fd dir{::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) {
        ::fsync(dir.fd);
    }
    return true;
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
        loadFile(s, path);
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
    std::size_t copied = 0;
    if (*size > 0) {
        const std::size_t room = static_cast<std::size_t>(*size);
        const bool fits = text->size() < room;
        copied = fits ? text->size() : s.omit_nul_when_cut ? room : room - 1;
        std::memcpy(buffer, text->data(), copied);
        if (copied < room) {
            buffer[copied] = '\0';
        }
    }
    if (s.report_copied_size) {
        *size = static_cast<int>(copied);
    }
    return 1;
}

int QrPlatformInfo::setString(const char* key, const char* name, const char* text, int size) {
    State& s = *static_cast<State*>(impl_);
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string value(text, size > 0 ? strnlen(text, static_cast<std::size_t>(size)) : 0);
    countCall(s, {qrlib_stand_in::StoreCall::Set, key, name, size, value});
    if (s.drop_writes) {
        return 1;
    }
    // One line per value in the file: a written text ends at its first line break.
    value.erase(std::min(value.find_first_of("\r\n"), value.size()));
    const char* path = storeFile();
    if (path != nullptr && !saveValue(s, path, key, name, value)) {
        return 0;
    }
    s.store[key][name] = value;
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
    s.save_delay = std::chrono::microseconds{0};
    s.report_copied_size = false;
    s.omit_nul_when_cut = false;
    s.drop_writes = false;
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

void delaySave(std::chrono::microseconds delay) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.save_delay = delay;
}

void reportCopiedSize(bool on) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.report_copied_size = on;
}

void omitNulWhenCut(bool on) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.omit_nul_when_cut = on;
}

void dropWrites(bool on) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.drop_writes = on;
}

}  // namespace qrlib_stand_in
