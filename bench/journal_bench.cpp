// scsi-timeouts advise --journal=DIR on a folder of real journal files (made here by
// systemd-journal-remote, mostly other programs' entries) against
// `journalctl -k -D DIR -o cat | grep -c -F 'CDB:'` on the same folder in the same run; with
// advise's peak resident set, its peak anonymous memory, and journalctl's own peak.
//   journal_bench TOOL [SIZE_MB] [SCRATCH_DIR]     (default 200 MB, in $TMPDIR or /tmp)
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr long long mb = 1000LL * 1000;
// What one systemd-journal-remote is given; it archives its file at its own limit (about 56 MiB)
// and goes on in a new one, so no file comes near 128 MiB.
constexpr long long export_per_file = 90LL << 20;

std::string remoteProgram() {
    for (const char* p :
         {"/lib/systemd/systemd-journal-remote", "/usr/lib/systemd/systemd-journal-remote"}) {
        if (::access(p, X_OK) == 0) {
            return p;
        }
    }
    std::fprintf(stderr,
                 "journal_bench: systemd-journal-remote is missing "
                 "(package systemd-journal-remote)\n");
    std::exit(2);
}

long long fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

// One entry in the journal's export format. One in eight is the kernel's: a SCSI completion or
// its CDB line, and every 20,000th entry a tape drive's timed-out READ ATTRIBUTE with its CDB.
int entry(long long i, char* out, std::size_t size, unsigned& seed) {
    seed = seed * 1103515245U + 12345U;
    const unsigned r = seed >> 8;
    static const char* const programs[] = {
        "sshd", "CRON", "systemd", "dbus-daemon", "postfix/smtpd", "rsyslogd", "backup-agent"};
    const unsigned long long usec = 1765274400000000ULL + static_cast<unsigned long long>(i) * 1500;
    int n = std::snprintf(out, size,
                          "__REALTIME_TIMESTAMP=%llu\n__MONOTONIC_TIMESTAMP=%llu\n"
                          "_BOOT_ID=0123456789abcdef0123456789abcdef\n_HOSTNAME=host\n",
                          usec, usec - 1765274000000000ULL);
    const auto rest = [&] { return size - static_cast<std::size_t>(n); };
    if (i % 8 == 0) {
        const char* kernel = "_TRANSPORT=kernel\nSYSLOG_IDENTIFIER=kernel\nPRIORITY=6\nMESSAGE=";
        const unsigned tape = static_cast<unsigned>(i / 20000 % 4);
        if (i % 20000 == 0) {
            n += std::snprintf(out + n, rest(),
                               "%sst 1:0:%u:0: attempting task abort!scmd(0x%08x), outstanding "
                               "for 62233 ms & timeout 60000 ms\n\n",
                               kernel, tape, r);
        } else if (i % 20000 == 8) {
            n += std::snprintf(out + n, rest(),
                               "%sst 1:0:%u:0: tag#%u CDB: Read attributes 8c 00 00 00 00 00 00 "
                               "00 00 00 00 00 00 00 00 00\n\n",
                               kernel, tape, r % 4096);
        } else if (i % 16 == 0) {
            n += std::snprintf(out + n, rest(),
                               "%ssd 0:0:0:0: [sda] tag#%u Done: SUCCESS Result: hostbyte=DID_OK "
                               "driverbyte=DRIVER_OK cmd_age=0s\n\n",
                               kernel, r % 64);
        } else {
            n += std::snprintf(out + n, rest(),
                               "%ssd 0:0:0:0: [sda] tag#%u CDB: Read(10) 28 00 00 %02x %02x %02x "
                               "00 00 08 00\n\n",
                               kernel, r % 64, r & 0xFF, r >> 8 & 0xFF, r >> 16 & 0xFF);
        }
        return n;
    }
    const char* p = programs[r % (sizeof programs / sizeof programs[0])];
    n += std::snprintf(out + n, rest(),
                       "_TRANSPORT=syslog\nSYSLOG_IDENTIFIER=%s\n_COMM=%s\n_PID=%u\nPRIORITY=6\n"
                       "MESSAGE=%s: session %lld opened for user backup from 10.0.%u.%u port %u "
                       "(CDB: none)\n\n",
                       p, p, 1000 + r % 5000, p, i, r % 256, r >> 8 & 0xFF, 40000 + r % 20000);
    return n;
}

// The journal files in `dir`, and their size in all.
std::vector<std::string> journalFiles(const std::string& dir, long long& total) {
    std::vector<std::string> files;
    total = 0;
    DIR* d = ::opendir(dir.c_str());
    while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr) {
        const std::string name = e->d_name;
        if (name.size() > 8 && name.compare(name.size() - 8, 8, ".journal") == 0) {
            files.push_back(dir);
            files.back() += '/';
            files.back() += name;
            total += fileSize(files.back());
        }
    }
    if (d != nullptr) {
        ::closedir(d);
    }
    return files;
}

// Journal files of about `bytes` in all.
std::vector<std::string> writeJournals(const std::string& dir, long long bytes,
                                       long long& entries) {
    const std::string remote = remoteProgram();
    long long total = 0;
    int parts = 0;
    unsigned seed = 12345;
    char text[1024];
    entries = 0;
    while (total < bytes) {
        std::string file = dir;
        file += "/part-";
        file += std::to_string(parts++);
        file += ".journal";
        const std::string output = "--output=" + file;
        int ends[2];
        if (::pipe(ends) != 0) {
            std::perror("pipe");
            std::exit(2);
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int quiet = ::open("/dev/null", O_WRONLY);
            if (::dup2(ends[0], STDIN_FILENO) == 0 && quiet >= 0 && ::dup2(quiet, 2) == 2) {
                ::close(ends[1]);
                ::execl(remote.c_str(), "systemd-journal-remote", output.c_str(), "-", nullptr);
            }
            ::_exit(127);
        }
        ::close(ends[0]);
        std::FILE* pipe = ::fdopen(ends[1], "w");
        if (pid < 0 || pipe == nullptr) {
            std::perror("fork");
            std::exit(2);
        }
        // The journal takes about 1.2 bytes per byte of export text.
        const long long budget = std::min(export_per_file, (bytes - total) * 5 / 6 + 1);
        for (long long written = 0; written < budget; ++entries) {
            const int n = entry(entries, text, sizeof text, seed);
            std::fwrite(text, 1, static_cast<std::size_t>(n), pipe);
            written += n;
        }
        int status = 0;
        std::fclose(pipe);
        if (::waitpid(pid, &status, 0) != pid || status != 0 || fileSize(file) == 0) {
            std::fprintf(stderr, "journal_bench: systemd-journal-remote %s wrote nothing\n",
                         output.c_str());
            std::exit(2);
        }
        journalFiles(dir, total);
    }
    return journalFiles(dir, total);
}

struct Run {
    double seconds = 1e9;
    long max_rss_kib = 0;
    long max_anon_kib = 0;  // sampled from /proc every millisecond
    int status = 0;
};

long anonKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "RssAnon:" && status >> value) {
            return value;
        }
        status.ignore(1 << 10, '\n');
    }
    return 0;
}

Run timed(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Run r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open("/dev/null", O_WRONLY);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) {
            ::_exit(127);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        r.max_anon_kib = std::max(r.max_anon_kib, anonKib(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    r.seconds = took.count();
    r.max_rss_kib = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return r;
}

void best(Run& kept, const Run& r) {
    kept.seconds = std::min(kept.seconds, r.seconds);
    kept.max_rss_kib = std::max(kept.max_rss_kib, r.max_rss_kib);
    kept.max_anon_kib = std::max(kept.max_anon_kib, r.max_anon_kib);
    kept.status = r.status;
}

double mib(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: journal_bench TOOL [SIZE_MB] [SCRATCH_DIR]\n");
        return 2;
    }
    const std::string tool = argv[1];
    const long long size = argc > 2 ? std::strtoll(argv[2], nullptr, 10) : 200;
    if (size <= 0) {
        std::fprintf(stderr, "journal_bench: SIZE_MB must be a positive number\n");
        return 2;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(argc > 3         ? argv[3]
                                  : tmp != nullptr ? tmp
                                                   : "/tmp") +
                      "/journal_bench_XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror(dir.c_str());
        return 2;
    }
    long long entries = 0;
    const std::vector<std::string> files = writeJournals(dir, size * mb, entries);
    long long total = 0;
    long long largest = 0;
    for (const std::string& f : files) {
        total += fileSize(f);
        largest = std::max(largest, fileSize(f));
    }
    ::setenv("QRLIB_STAND_IN_FILE", (dir + "/registry.ini").c_str(), 1);
    std::string pipeline = "journalctl -k -D ";
    pipeline += dir;
    pipeline += " -o cat | grep -c -F 'CDB:'";
    Run grep;
    Run journalctl;
    Run advise;
    for (int i = 0; i < 3; ++i) {  // best of three, alternating, over a warm page cache
        best(grep, timed({"sh", "-c", pipeline}));
        best(journalctl, timed({"journalctl", "-k", "-D", dir, "-o", "cat"}));
        best(advise, timed({tool, "advise", "--journal=" + dir}));
    }
    for (const std::string& f : files) {
        std::remove(f.c_str());
    }
    std::remove((dir + "/registry.ini").c_str());
    ::rmdir(dir.c_str());
    if (grep.status != 0 || journalctl.status != 0 || advise.status != 1) {
        std::fprintf(stderr,
                     "journal_bench: the pipeline exited %d, journalctl %d, advise %d "
                     "(expected 0, 0 and 1)\n",
                     grep.status, journalctl.status, advise.status);
        return 1;
    }
    std::printf(
        "advise --journal on %zu journal files, %.0f MB (largest %.0f MiB), %lld entries, "
        "1 in 8 the kernel's\n",
        files.size(), static_cast<double>(total) / mb, static_cast<double>(largest) / (1 << 20),
        entries);
    std::printf("journalctl -k -o cat | grep -c   %.3f s (best of 3)\n", grep.seconds);
    std::printf("scsi-timeouts advise --journal   %.3f s (best of 3)\n", advise.seconds);
    std::printf("advise / pipeline                %.2f (target <= 1.5)\n",
                advise.seconds / grep.seconds);
    std::printf("advise peak anonymous memory     %.1f MiB (target < 16)\n",
                mib(advise.max_anon_kib));
    std::printf(
        "advise peak RSS                  %.1f MiB (journalctl's own %.1f MiB; target "
        "<= journalctl's + 16)\n",
        mib(advise.max_rss_kib), mib(journalctl.max_rss_kib));
    return 0;
}
