// The stand-in store's file: loaded at construction, changed one line per write, editable by
// hand, and shared by processes that write at the same time or die while writing.
#include <gtest/gtest.h>

#include <QrPlatformInfo.h>
#include <QrScsiTimeouts.h>
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

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
std::string useFile(const std::string& name, std::string folder = ::testing::TempDir()) {
    const std::string path = folder + std::to_string(::getpid()) + "-" + name;
    std::remove(path.c_str());
    ::setenv("QRLIB_STAND_IN_FILE", path.c_str(), 1);
    st::reset();
    return path;
}

void doneWithFile(const std::string& path) {
    std::remove(path.c_str());
    ::unsetenv("QRLIB_STAND_IN_FILE");
}

// Counts the temporary files that saves left beside `path`.
int leftovers(const std::string& path, bool remove) {
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    const std::string prefix = path.substr(folder.size()) + ".tmp";
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

TEST(StandInStore, FilePersistsWritesAndHandEdits) {
    const std::string path = useFile("stand_in_store_test.ini");
    char buffer[8];
    int size = sizeof buffer;
    {
        QrPlatformInfo info;
        EXPECT_EQ(info.getString("ScsiTimeouts", "REWIND", buffer, &size), 0);
        EXPECT_EQ(info.setString("ScsiTimeouts", "REWIND", "*1800*", 128), 1);
    }
    st::reset();  // forget the memory: only the file remains
    {
        std::ofstream edit(path, std::ios::app);
        edit << "[ScsiTimeouts]\nLOAD= 900 seconds\n";
    }
    QrPlatformInfo info;
    ASSERT_NE(info.getString("ScsiTimeouts", "REWIND", buffer, &size), 0);
    EXPECT_STREQ(buffer, "*1800*");
    ASSERT_NE(info.getString("ScsiTimeouts", "LOAD", buffer, &size), 0);
    EXPECT_STREQ(buffer, " 900 se");  // white space kept, cut to fit the buffer

    // As other stores do: the length copied comes back, and a cut text has no NUL.
    st::reportCopiedSize();
    st::omitNulWhenCut();
    ASSERT_NE(info.getString("ScsiTimeouts", "LOAD", buffer, &size), 0);
    EXPECT_EQ(std::string(buffer, sizeof buffer) + std::to_string(size), " 900 sec8");
    ASSERT_NE(info.getString("ScsiTimeouts", "REWIND", buffer, &size), 0);
    EXPECT_EQ(buffer + std::to_string(size), "*1800*6");
    doneWithFile(path);
}

struct Edit {
    const char* label;
    const char* name;  // under ScsiTimeouts: read, then written as "*1*"
    std::optional<std::string> read;
    std::string before;
    std::string after;
    std::vector<int> unreadable;  // lines reported
    std::string meanwhile;        // if set: the file as another process left it after our load
};

// clang-format off
const Edit edits[] = {
    {"OnlyItsOwnLineChanges", "LOAD", "soon",
     "# notes\n\n; old\n[Base]\nvARURAROD=1\n\n[ScsiTimeouts]\nZ=1\nLOAD=soon\nA=2\n??\n"
     "[Other]\nLOAD=3\n",
     "# notes\n\n; old\n[Base]\nvARURAROD=1\n\n[ScsiTimeouts]\nZ=1\nLOAD=*1*\nA=2\n??\n"
     "[Other]\nLOAD=3\n",
     {11}, ""},
    {"NewValueEndsItsSection", "INQUIRY", std::nullopt,
     "[ScsiTimeouts]\nREWIND=900\n[Open\n\n# next\n[Other]\nX=1\n",
     "[ScsiTimeouts]\nREWIND=900\nINQUIRY=*1*\n[Open\n\n# next\n[Other]\nX=1\n", {3}, ""},
    {"MissingSectionAdded", "INQUIRY", std::nullopt,
     "top=1\n[Other]\nX=1", "top=1\n[Other]\nX=1\n[ScsiTimeouts]\nINQUIRY=*1*\n", {1}, ""},
    {"EmptyFile", "INQUIRY", std::nullopt, "", "[ScsiTimeouts]\nINQUIRY=*1*\n", {}, ""},
    {"CrLfKept", "LOAD", "soon",
     "[ScsiTimeouts]\r\nLOAD=soon\r\n", "[ScsiTimeouts]\r\nLOAD=*1*\r\n", {}, ""},
    {"CrLfForNewLines", "LOAD", std::nullopt,
     "[Other]\r\nX=1\r\n", "[Other]\r\nX=1\r\n[ScsiTimeouts]\r\nLOAD=*1*\r\n", {}, ""},
    {"NamesTrimmedValueVerbatim", "ERASE", " 500 ",
     "\xEF\xBB\xBF[ScsiTimeouts] \n ERASE = 500 \n", "\xEF\xBB\xBF[ScsiTimeouts] \n ERASE =*1*\n",
     {}, ""},
    {"LastOfTwoWins", "LOAD", "2",
     "[ScsiTimeouts]\nLOAD=1\n[Other]\n[ScsiTimeouts]\nLOAD=2\n",
     "[ScsiTimeouts]\nLOAD=1\n[Other]\n[ScsiTimeouts]\nLOAD=*1*\n", {}, ""},
    {"WritesOverTheLatestFile", "LOAD", "soon",
     "[ScsiTimeouts]\nLOAD=soon\n", "[ScsiTimeouts]\nREWIND=900\nLOAD=*1*\n", {},
     "[ScsiTimeouts]\nREWIND=900\nLOAD=x\n"},
};
// clang-format on

void PrintTo(const Edit& e, std::ostream* out) {
    *out << e.label;
}

class FileEdit : public ::testing::TestWithParam<Edit> {};

TEST_P(FileEdit, KeepsEveryOtherByte) {
    const Edit& e = GetParam();
    const std::string path = useFile(std::string("stand_in_edit_") + e.label + ".ini");
    writeFile(path, e.before);
    ::testing::internal::CaptureStderr();
    QrPlatformInfo info;
    if (!e.meanwhile.empty()) {
        writeFile(path, e.meanwhile);
    }
    char buffer[16];
    int size = sizeof buffer;
    const bool found = info.getString("ScsiTimeouts", e.name, buffer, &size) != 0;
    EXPECT_EQ(found ? std::optional<std::string>(buffer) : std::nullopt, e.read);
    EXPECT_EQ(info.setString("ScsiTimeouts", e.name, "*1*", 128), 1);
    EXPECT_EQ(readFile(path), e.after);
    EXPECT_EQ(leftovers(path, true), 0);

    // Read by the load and by the write, reported once, with file and line.
    const std::string reports = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(reports.begin(), reports.end(), '\n'),
              static_cast<std::ptrdiff_t>(e.unreadable.size()))
        << reports;
    for (int line : e.unreadable) {
        EXPECT_NE(reports.find(path + ":" + std::to_string(line) + ":"), std::string::npos);
    }
    doneWithFile(path);
}

INSTANTIATE_TEST_SUITE_P(StandInFile, FileEdit, ::testing::ValuesIn(edits),
                         [](const ::testing::TestParamInfo<Edit>& info) {
                             return std::string(info.param.label);
                         });

// An administrator's link to the store stays a link, and the file it points at gets the write.
TEST(StandInFile, SymlinkedFileIsWrittenWhereItLives) {
    const std::string link = useFile("stand_in_link.ini");
    const std::string target = link + ".target";
    writeFile(target, "[ScsiTimeouts]\nLOAD=soon\n");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    {
        QrPlatformInfo info;
        EXPECT_EQ(info.setString("ScsiTimeouts", "LOAD", "*900*", 128), 1);
    }
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readFile(target), "[ScsiTimeouts]\nLOAD=*900*\n");
    std::remove(target.c_str());
    doneWithFile(link);
}

struct SaveFailure {
    const char* file;
    std::function<void(const std::string& path)> prepare;  // in the writing process
    const char* reason;
};

const SaveFailure save_failures[] = {
    {"missing_folder/store.ini", [](const std::string&) {}, "No such file or directory"},
    {"size_limit.ini",  // a write that fails part way, as on a full disk
     [](const std::string& path) {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit limit{readFile(path).size(), readFile(path).size()};
         ::setrlimit(RLIMIT_FSIZE, &limit);
     },
     "File too large"},
    {"read_only.ini",
     [](const std::string& path) {
         ::chmod(path.c_str(), 0444);
         if (::geteuid() == 0 && ::setuid(65534) != 0) {  // root may write read-only files
             ::_exit(77);
         }
     },
     "Permission denied"},
};

TEST(StandInFile, FailedSaveIsReportedAndKeepsTheFile) {
    for (const SaveFailure& f : save_failures) {
        SCOPED_TRACE(f.file);
        const std::string path = useFile(f.file);
        const std::string errors = ::testing::TempDir() + std::to_string(::getpid()) + ".stderr";
        writeFile(path, administratorFile());
        const std::string before = readFile(path);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const bool opened = std::freopen(errors.c_str(), "w", stderr) != nullptr;
            QrPlatformInfo info;
            f.prepare(path);
            const int stored = info.setString("ScsiTimeouts", "INQUIRY", "*60*", 128);
            std::fflush(stderr);
            ::_exit(opened ? stored : 3);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
            std::printf("%s: cannot drop root here, not tried\n", f.file);
            std::remove(errors.c_str());
            doneWithFile(path);
            continue;
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(readFile(path) == before);
        EXPECT_EQ(leftovers(path, true), 0);
        const std::string report = readFile(errors);
        EXPECT_NE(report.find(path), std::string::npos) << report;
        EXPECT_NE(report.find(f.reason), std::string::npos) << report;
        std::remove(errors.c_str());
        doneWithFile(path);
    }
}

// Four processes load the library at once (each writes its markers) and add values of their
// own, while this one reads the file. Nothing of the administrator's may change, nothing written
// may be lost, and no read may see a partial file. In memory when possible: the same races,
// without waiting for a disk.
TEST(StandInFile, ConcurrentWritersLoseNothing) {
    const std::string path = useFile(
        "concurrent.ini", ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : ::testing::TempDir());
    const std::string original = administratorFile();
    const auto ours = [](const std::string& line) { return !isMarker(line) && line[0] != 'P'; };
    int reads = 0;
    int partial = 0;
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        writeFile(path, original);
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
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
                ::_exit(loaded ? 0 : 1);
            }
        }
        ::close(start[0]);
        ::close(start[1]);
        for (pid_t pid : writers) {
            int status = 0;
            while (::waitpid(pid, &status, WNOHANG) == 0) {
                const std::string now = readFile(path);
                const bool added = now.find("[Writers]") != std::string::npos;
                partial += linesWhere(now, ours) != original + (added ? "[Writers]\n" : "");
                ++reads;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        const std::string after = readFile(path);
        EXPECT_TRUE(linesWhere(after, ours) == original + "[Writers]\n") << after.size();
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
    EXPECT_EQ(partial, 0);
    std::printf("%d reads during the writes, %d not whole\n", reads, partial);
    doneWithFile(path);
}

// A writer killed inside a save leaves the old file or the new one. Even trials hold the writer
// between writing its new file and putting it in place; odd ones kill a writer that saves over
// and over, at a random moment.
TEST(StandInFile, WriterKilledMidSaveLosesNothing) {
    const std::string path = useFile("killed.ini");
    const std::string original = administratorFile();
    const auto ours = [](const std::string& line) { return line.rfind("DEFAULT=", 0) != 0; };
    std::mt19937 random(std::random_device{}());
    int inside = 0;
    for (int trial = 0; trial < 30; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        writeFile(path, original);
        const bool held = trial % 2 == 0;
        const pid_t pid = ::fork();
        if (pid == 0) {
            st::delaySave(held ? std::chrono::seconds(10) : std::chrono::seconds(0));
            QrPlatformInfo info;
            for (int i = 0;; ++i) {
                info.setString("ScsiTimeouts", "DEFAULT", ("*" + std::to_string(i) + "*").c_str(),
                               128);
            }
        }
        const auto start = std::chrono::steady_clock::now();
        bool entered = !held;
        while (!entered && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
            entered = leftovers(path, false) > 0;  // its first save has begun
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (held ? 2000 : 20000)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ASSERT_TRUE(entered);
        const std::string after = readFile(path);
        EXPECT_TRUE(held ? after == original : linesWhere(after, ours) == original) << after.size();
        EXPECT_LE(std::count(after.begin(), after.end(), '\n'),
                  std::count(original.begin(), original.end(), '\n') + 1);
        inside += leftovers(path, true);
    }
    std::printf("%d of 30 writers killed inside a save\n", inside);
    EXPECT_GE(inside, 15);
    // The dead writers' locks are gone.
    QrPlatformInfo info;
    EXPECT_EQ(info.setString("ScsiTimeouts", "DEFAULT", "*120*", 128), 1);
    EXPECT_TRUE(linesWhere(readFile(path), ours) == original);
    doneWithFile(path);
}

}  // namespace
