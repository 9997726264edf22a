// The stand-in store's file: loaded at construction, changed one line per write, editable by
// hand, and shared by processes that write at the same time or die while writing.
#include <gtest/gtest.h>

#include <QrPlatformInfo.h>
#include <QrScsiTimeouts.h>
#include <dirent.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fresh_process.h"
#include "store_helpers.h"

namespace {

std::string readFile(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Named for this process: builds in other trees run these tests at the same time.
std::string useFile(const std::string& name) {
    std::string path = ::testing::TempDir() + std::to_string(::getpid()) + "-" + name;
    std::remove(path.c_str());
    ::setenv("QRLIB_STAND_IN_FILE", path.c_str(), 1);
    st::reset();
    return path;
}

void doneWithFile(const std::string& path) {
    std::remove(path.c_str());
    std::remove((path + ".other").c_str());  // a second name some tests give it
    ::unsetenv("QRLIB_STAND_IN_FILE");
}

// Gives up root, as a child process only: the rows about other users' files need both sides.
bool becomeNobody(const std::vector<gid_t>& groups) {
    return ::geteuid() == 0 && ::setgroups(groups.size(), groups.data()) == 0 &&
           ::setegid(65534) == 0 && ::seteuid(65534) == 0;
}

// A folder of its own for the file at `path`, with `mode` (set past the umask).
bool ownFolder(const std::string& path, mode_t mode) {
    const std::string folder = path.substr(0, path.rfind('/'));
    return ::mkdir(folder.c_str(), mode) == 0 && ::chmod(folder.c_str(), mode) == 0;
}

// Counts the temporary files that saves left beside `path`.
int leftovers(const std::string& path, bool remove) {
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    const std::string prefix = path.substr(folder.size()) + ".stand-in-save-";
    int found = 0;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* e = dir != nullptr ? ::readdir(dir) : nullptr) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) {
            ++found;
            if (remove) {
                std::remove((folder + e->d_name).c_str());
            }
        }
    }
    if (dir != nullptr) {
        ::closedir(dir);
    }
    return found;
}

std::string linesWhere(const std::string& text,
                       const std::function<bool(const std::string&)>& keep) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        out += keep(line) ? line + "\n" : "";
    }
    return out;
}

// An administrator's values and comments among a few thousand lines of another section.
std::string administratorFile() {
    std::string text =
        "# Timeouts for the tape library, changed 2024-03-01\n[Base]\nvARURAROD=1\n\n"
        "[ScsiTimeouts]\n; slow drive\nREWIND=900\nCDB_05=30\n ERASE = 500 \n\n[Other]\n";
    for (int i = 0; i < 2000; ++i) {
        text += "Entry" + std::to_string(i) + "=" + std::to_string(i * 7) + "\n";
    }
    return text;
}

bool isMarker(const std::string& line) {
    return line.find("=*") != std::string::npos;
}

// What getString leaves in an 8-byte buffer that held "########", and gives back.
struct Copy {
    const char* label;
    void (*set)();
    const char* text;
    std::string buffer;
    int size;  // *size afterwards
    int found;
};

const Copy copies[] = {
    {"Fits", [] {}, "*60*", std::string("*60*\0###", 8), 8, 1},
    {"Cut", [] {}, " 900 seconds", std::string(" 900 se\0", 8), 8, 1},
    {"CopiedSize", [] { st::reportCopiedSize(); }, "*60*", std::string("*60*\0###", 8), 4, 1},
    {"CutWithoutNul", [] { st::omitNulWhenCut(); }, " 900 seconds", " 900 sec", 8, 1},
    {"ShortWithoutNul", [] { st::omitNulWhenShort(); }, "60", "60######", 8, 1},
    {"FoundAsLength", [] { st::foundReturns(2); }, "60", std::string("60\0#####", 8), 8, 2},
};

TEST(StandInStore, GetStringControls) {
    for (const Copy& c : copies) {
        SCOPED_TRACE(c.label);
        st::reset();
        c.set();
        st::seed("ScsiTimeouts", "V", c.text);
        QrPlatformInfo info;
        char buffer[8];
        std::memset(buffer, '#', sizeof buffer);
        int size = sizeof buffer;
        EXPECT_EQ(info.getString("ScsiTimeouts", "V", buffer, &size), c.found);
        EXPECT_EQ(std::string(buffer, sizeof buffer), c.buffer);
        EXPECT_EQ(size, c.size);
        size = sizeof buffer;
        EXPECT_EQ(info.getString("ScsiTimeouts", "absent", buffer, &size), 0);
    }
    st::reset();
}

// With no file named, the values live in this process alone: a later object sees what an
// earlier one wrote. (No file is touched: the test binaries' main names none.)
TEST(StandInStore, WithoutAFileValuesStayInMemory) {
    st::reset();
    EXPECT_EQ(QrPlatformInfo().setString("ScsiTimeouts", "REWIND", "900", 128), 1);
    char buffer[8];
    int size = sizeof buffer;
    EXPECT_EQ(QrPlatformInfo().getString("ScsiTimeouts", "REWIND", buffer, &size), 1);
    EXPECT_STREQ(buffer, "900");
    st::reset();
}

// The file as the store meets it: created by the first write, read at every construction,
// re-read by a write, which changes its own line of the file as it is now, where it lives when
// an administrator links to it; unreadable lines are reported once each, with file and line.
TEST(StandInFile, WritesPersistAndEditTheLatestFile) {
    const std::string path = useFile("stand_in_edit.ini");
    const std::string target = path + ".target";
    std::remove(target.c_str());
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);  // to no file yet
    EXPECT_EQ(QrPlatformInfo().setString("ScsiTimeouts", "LOAD", "soon", 128), 1);
    st::reset();  // forget the memory: only the file remains
    std::ofstream(path, std::ios::app) << "??\n";
    ::testing::internal::CaptureStderr();
    QrPlatformInfo info;
    // Another process's write meanwhile: a value added above, the unreadable line moved down.
    writeFile(path, "[ScsiTimeouts]\nREWIND=900\nLOAD=x\n??\n[Open\n");
    char buffer[16];
    int size = sizeof buffer;
    ASSERT_NE(info.getString("ScsiTimeouts", "LOAD", buffer, &size), 0);
    EXPECT_STREQ(buffer, "soon");
    EXPECT_EQ(info.setString("ScsiTimeouts", "LOAD", "*1*", 128), 1);
    EXPECT_EQ(readFile(path), "[ScsiTimeouts]\nREWIND=900\nLOAD=*1*\n??\n[Open\n");
    EXPECT_EQ(leftovers(path, true), 0);

    const std::string reports = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(reports.begin(), reports.end(), '\n'), 2) << reports;
    EXPECT_NE(reports.find(path + ":3: ignored, not a [section] or name=value: ??"),
              std::string::npos)
        << reports;
    EXPECT_NE(reports.find(path + ":5: ignored, not a [section] or name=value: [Open"),
              std::string::npos)
        << reports;
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readFile(target), readFile(path));
    std::remove(target.c_str());
    doneWithFile(path);
}

// Writes that must leave what the file variable names as it was. `make` puts it at the path
// (false: cannot be made here, not tried); `prepare` runs in the writing process.
// The write then fails and says why, except on the null device, which keeps nothing, silently.
// What cannot be read fails the construction too, for the same reason: an empty store in its
// place would hide the administrator's values. Nodes are never opened: a FIFO would block the
// load, the zero device never end it.
struct Target {
    const char* label;
    std::function<bool(const std::string& path)> make;
    std::function<bool(const std::string& path)> prepare;  // false: cannot be tried here
    const char* reason;                                    // nullptr: the null device
    bool unreadable;
};

bool node(const std::string& path, mode_t mode, unsigned major, unsigned minor) {
    const int made = S_ISDIR(mode) ? ::mkdir(path.c_str(), 0755)
                                   : ::mknod(path.c_str(), mode | 0666, makedev(major, minor));
    if (made != 0 && errno == EPERM && std::getenv("CI") == nullptr) {
        return false;
    }
    EXPECT_EQ(made, 0) << std::strerror(errno);
    return true;
}

const auto administrator = [](const std::string& path) {
    writeFile(path, administratorFile());
    return true;
};
const auto nothing = [](const std::string&) { return true; };

const Target targets[] = {
    {"NullDevice", [](const std::string& p) { return node(p, S_IFCHR, 1, 3); }, nothing, nullptr,
     false},
    {"Fifo", [](const std::string& p) { return node(p, S_IFIFO, 0, 0); }, nothing,
     "a FIFO, not a regular file", true},
    {"Directory", [](const std::string& p) { return node(p, S_IFDIR, 0, 0); }, nothing,
     "a directory, not a regular file", true},
    {"ZeroDevice", [](const std::string& p) { return node(p, S_IFCHR, 1, 5); }, nothing,
     "a character device, not a regular file", true},
    {"BlockDevice", [](const std::string& p) { return node(p, S_IFBLK, 7, 200); }, nothing,
     "a block device, not a regular file", true},
    {"Socket", [](const std::string& p) { return node(p, S_IFSOCK, 0, 0); }, nothing,
     "a socket, not a regular file", true},
    {"LinkToItself", [](const std::string& p) { return ::symlink(p.c_str(), p.c_str()) == 0; },
     nothing, "Too many levels of symbolic links", true},
    {"missing_folder/store.ini", nothing, nothing, "No such file or directory", false},
    {"SizeLimit", administrator,  // a write that fails part way, as on a full disk
     [](const std::string& path) {
         ::signal(SIGXFSZ, SIG_IGN);
         rlimit limit{};
         ::getrlimit(RLIMIT_FSIZE, &limit);
         limit.rlim_cur = readFile(path).size();
         return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
     },
     "File too large", false},
    {"ReadOnly", administrator,
     [](const std::string& path) {
         ::chmod(path.c_str(), 0444);
         return ::geteuid() != 0 || ::seteuid(65534) == 0;  // root may write read-only files
     },
     "Permission denied", false},
    {"Unreadable", administrator,
     [](const std::string& path) {
         ::chmod(path.c_str(), 0);
         return ::geteuid() != 0 || ::seteuid(65534) == 0;
     },
     "Permission denied", true},
    // Another user's file that anyone may write, in a folder where only the owner may replace it.
    {"sticky_folder/store.ini",
     [](const std::string& path) {
         return ownFolder(path, 01777) && administrator(path) && ::chmod(path.c_str(), 0666) == 0;
     },
     [](const std::string&) { return ::geteuid() == 0 && ::seteuid(65534) == 0; },
     "Operation not permitted", false},
    // A group the writer is not in: the new file could keep neither its owner nor its group.
    {"foreign_group/store.ini",
     [](const std::string& path) {
         return ownFolder(path, 0777) && administrator(path) && ::chmod(path.c_str(), 0666) == 0 &&
                ::chown(path.c_str(), 0, 4242) == 0;
     },
     [](const std::string&) { return becomeNobody({}); },
     "cannot keep its group (gid 4242): Operation not permitted", false},
    // A second name would keep the old content once the save renames a new file over this one.
    {"HardLink",
     [](const std::string& path) {
         return administrator(path) && ::link(path.c_str(), (path + ".other").c_str()) == 0;
     },
     nothing, "it has 2 names (hard links), and a save would give only this one the new content",
     false},
};

TEST(StandInFile, FailedSaveIsReportedAndKeepsWhatIsThere) {
    for (const Target& t : targets) {
        SCOPED_TRACE(t.label);
        const std::string path = useFile(t.label);
        if (!t.make(path)) {
            std::printf("%s: cannot be made here, not tried\n", t.label);
            continue;
        }
        struct stat before {};
        const bool exists = ::lstat(path.c_str(), &before) == 0;
        const std::string content = S_ISREG(before.st_mode) ? readFile(path) : "";
        inFreshProcess(
            [&] {
                st::seed("ScsiTimeouts", "REWIND", "5");  // unless loaded from a file
                if (!t.prepare(path)) {
                    std::printf("%s: cannot be tried here\n", t.label);
                    return;
                }
                ::testing::internal::CaptureStderr();
                std::string thrown;
                try {
                    QrPlatformInfo loaded;
                    char buffer[16];
                    int size = sizeof buffer;
                    // The null device reads as an empty store; a missing file leaves it.
                    EXPECT_EQ(loaded.getString("ScsiTimeouts", "REWIND", buffer, &size) != 0,
                              t.reason != nullptr);
                } catch (const std::runtime_error& e) {
                    thrown = e.what();
                }
                EXPECT_EQ(thrown, t.unreadable
                                      ? "stand-in store: cannot read " + path + ": " + t.reason
                                      : "");
                // The writes' object is made while no file is named, so that it surely exists.
                ::unsetenv("QRLIB_STAND_IN_FILE");
                QrPlatformInfo info;
                ::setenv("QRLIB_STAND_IN_FILE", path.c_str(), 1);
                EXPECT_EQ(info.setString("ScsiTimeouts", "INQUIRY", "*60*", 128),
                          t.reason == nullptr ? 1 : 0);
                const std::string reports = ::testing::internal::GetCapturedStderr();
                if (t.reason == nullptr) {
                    EXPECT_EQ(reports, "");
                } else {  // the save's line alone: a failed read is the exception's to tell
                    EXPECT_EQ(std::count(reports.begin(), reports.end(), '\n'), 1) << reports;
                    EXPECT_NE(reports.find("cannot save " + path + ": " + t.reason),
                              std::string::npos)
                        << reports;
                }
            },
            10);
        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after) == 0, exists);
        EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
        EXPECT_EQ(after.st_rdev, before.st_rdev);
        EXPECT_EQ(after.st_ino, before.st_ino);
        if (S_ISREG(before.st_mode)) {
            EXPECT_TRUE(readFile(path) == content);
        }
        EXPECT_EQ(leftovers(path, true), 0);
        doneWithFile(path);
        if (std::strchr(t.label, '/') != nullptr) {  // a folder of its own
            ::rmdir(path.substr(0, path.rfind('/')).c_str());
        }
    }
}

// Four processes that wait for `start` to close, load the library (each writes its markers) and
// add two values of their own.
std::vector<pid_t> startWriters(const int start[2]) {
    std::vector<pid_t> writers;
    for (int w = 0; w < 4; ++w) {
        writers.push_back(::fork());
        if (writers.back() == 0) {
            char go;
            ::close(start[1]);
            const bool loaded = ::read(start[0], &go, 1) == 0 && getScsiTimeout(0x01) == 900 &&
                                getScsiTimeout(0x05) == 30 && getScsiTimeout(0x19) == 500;
            QrPlatformInfo info;
            for (const char* v : {"_a", "_b"}) {
                info.setString("Writers", ("P" + std::to_string(w) + v).c_str(), "1", 2);
            }
            endChild(loaded);
        }
    }
    return writers;
}

bool notFromWriters(const std::string& line) {
    return !isMarker(line) && line[0] != 'P';
}

struct Reads {
    int total = 0;
    int partial = 0;  // saw the administrator's lines other than whole
};

// Reads the file until `pid` ends.
void readWhileWriting(pid_t pid, const std::string& path, Reads& reads) {
    const std::string original = administratorFile();
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        const std::string now = readFile(path);
        const bool added = now.find("[Writers]") != std::string::npos;
        reads.partial += linesWhere(now, notFromWriters) != original + (added ? "[Writers]\n" : "");
        ++reads.total;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Four writers at once while this process reads the file. Nothing of the administrator's may
// change, nothing written may be lost, and no read may see a partial file.
TEST(StandInFile, ConcurrentWritersLoseNothing) {
    const std::string path = useFile("concurrent.ini");
    const std::string original = administratorFile();
    Reads reads;
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        writeFile(path, original);
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
        const std::vector<pid_t> writers = startWriters(start);
        ::close(start[0]);
        ::close(start[1]);
        for (pid_t pid : writers) {
            readWhileWriting(pid, path, reads);
        }
        const std::string after = readFile(path);
        EXPECT_TRUE(linesWhere(after, notFromWriters) == original + "[Writers]\n") << after.size();
        // Each once: DEFAULT and the named commands but REWIND and ERASE; each writer's two.
        std::set<std::string> markers;
        std::istringstream in(linesWhere(after, isMarker));
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(markers.insert(line.substr(0, line.find('='))).second) << line;
        }
        EXPECT_EQ(markers.size(), 16u);
        EXPECT_EQ(linesWhere(after, [](const std::string& l) { return l[0] == 'P'; }).size(),
                  8 * std::string("P0_a=1\n").size());
        EXPECT_EQ(leftovers(path, true), 0);
    }
    EXPECT_EQ(reads.partial, 0);
    std::printf("%d reads during the writes, %d not whole\n", reads.total, reads.partial);
    doneWithFile(path);
}

// A writer killed at each point inside a save leaves the old file or the new one, and its lock
// goes with it. The next save removes the temporary file it left, and only what this file's own
// saves name so and this user owns.
TEST(StandInFile, WriterKilledMidSaveLosesNothing) {
    const std::string path = useFile("killed.ini");
    const std::string original = administratorFile();
    const auto ours = [](const std::string& line) { return line.rfind("DEFAULT=", 0) != 0; };
    const bool root = ::geteuid() == 0;
    const std::string save = path + ".stand-in-save-";
    std::vector<std::string> kept = {save + "12345",  save + "1234567",
                                     save + "AB-DEF", path + "x.stand-in-save-ABCDEF",
                                     path + ".other", path + ".tmpbackup"};
    if (root) {
        kept.push_back(save + "NOBODY");  // another user's
    }
    const struct {
        st::SavePoint point;
        const char* file;  // DEFAULT's line in the file then, "" for none
        int left;          // temporary files
    } points[] = {
        {st::SavePoint::Locked, "", 0},
        {st::SavePoint::TempCreated, "", 1},
        {st::SavePoint::TempWritten, "", 1},
        {st::SavePoint::Renamed, "DEFAULT=*1*\n", 0},
    };
    for (const auto& at : points) {
        SCOPED_TRACE("point " + std::to_string(static_cast<int>(at.point)));
        writeFile(path, original);
        int told[2];
        ASSERT_EQ(::pipe(told), 0);
        st::holdSave(at.point, told[1]);
        const pid_t pid = ::fork();
        if (pid == 0) {
            QrPlatformInfo().setString("ScsiTimeouts", "DEFAULT", "*1*", 128);
            endChild(false);  // held inside the save until killed: never here
        }
        st::holdSave(st::SavePoint::None);
        ::close(told[1]);
        pollfd held{told[0], POLLIN, 0};
        char byte = 0;
        const bool reached = ::poll(&held, 1, 60000) == 1 && ::read(told[0], &byte, 1) == 1;
        ::close(told[0]);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ASSERT_TRUE(reached) << "the writer never got there";
        std::string after = readFile(path);
        EXPECT_TRUE(linesWhere(after, ours) == original) << after.size();
        EXPECT_EQ(linesWhere(after, std::not_fn(ours)), at.file);
        EXPECT_EQ(leftovers(path, false), at.left);

        for (const std::string& name : kept) {
            writeFile(name, "x");
        }
        ASSERT_TRUE(!root || ::chown(kept.back().c_str(), 65534, 65534) == 0);
        EXPECT_EQ(QrPlatformInfo().setString("ScsiTimeouts", "DEFAULT", "*2*", 128), 1);
        after = readFile(path);
        EXPECT_TRUE(linesWhere(after, ours) == original) << after.size();
        EXPECT_EQ(linesWhere(after, std::not_fn(ours)), "DEFAULT=*2*\n");
        for (const std::string& name : kept) {
            EXPECT_EQ(std::remove(name.c_str()), 0) << name << " was removed";
        }
        EXPECT_EQ(leftovers(path, true), 0);
    }
    doneWithFile(path);
}

// Another user's save of a file shared through its group, and one in a folder that user may
// change but not read. Both replace the file; the second cannot make that last, and says so.
TEST(StandInFile, SaveByAnotherUser) {
    const struct {
        const char* label;
        mode_t folder_mode;
        uid_t uid;
        gid_t gid;
        mode_t mode;
        std::vector<gid_t> groups;  // the writer's
        int result;
        const char* report;  // nullptr: none
    } rows[] = {
        {"GroupKept", 0777, 0, 4242, 0664, {4242}, 1, nullptr},
        {"FolderNotSynced",
         0333,
         65534,
         65534,
         0644,
         {},
         0,
         "in place, but its folder could not be synced, so a crash may still lose it: "
         "Permission denied"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (::geteuid() != 0) {
            std::printf("%s: needs root to be both users, not tried\n", row.label);
            continue;
        }
        const std::string path = useFile(std::string(row.label) + "/store.ini");
        ASSERT_TRUE(ownFolder(path, row.folder_mode));
        writeFile(path, administratorFile());
        ASSERT_EQ(::chown(path.c_str(), row.uid, row.gid), 0);
        ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
        inFreshProcess(
            [&] {
                ASSERT_TRUE(becomeNobody(row.groups));
                ::testing::internal::CaptureStderr();
                EXPECT_EQ(QrPlatformInfo().setString("ScsiTimeouts", "INQUIRY", "*60*", 128),
                          row.result);
                const std::string reports = ::testing::internal::GetCapturedStderr();
                if (row.report == nullptr) {
                    EXPECT_EQ(reports, "");
                } else {
                    EXPECT_NE(reports.find("cannot save " + path + ": " + row.report),
                              std::string::npos)
                        << reports;
                }
            },
            10);
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_uid, 65534u);
        EXPECT_EQ(after.st_gid, row.gid);
        EXPECT_EQ(after.st_mode & 07777, row.mode);
        EXPECT_NE(readFile(path).find("\nINQUIRY=*60*\n"), std::string::npos);
        EXPECT_EQ(leftovers(path, true), 0);
        doneWithFile(path);
        ::rmdir(path.substr(0, path.rfind('/')).c_str());
    }
}

}  // namespace
