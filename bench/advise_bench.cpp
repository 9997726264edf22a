// scsi-timeouts advise on a synthetic journal, and on lines of a MiB: its time against
// `grep -c -F 'CDB:'` on the same file in the same run, and its peak resident set.
//   advise_bench TOOL [SIZE_MIB] [SCRATCH_DIR]     (default 200 MiB, in $TMPDIR or /tmp)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Mostly other subsystems and programs; one line in eight a SCSI completion or its CDB line,
// and now and then a tape timeout with its CDB.
void writeJournal(const std::string& path, long long bytes, long long& lines) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        std::perror(path.c_str());
        std::exit(2);
    }
    static const char* const others[] = {
        "kernel: usb 1-1.%d: new high-speed USB device number %d using xhci_hcd",
        "kernel: EXT4-fs (sda%d): mounted filesystem with ordered data mode. Quota mode: %d.",
        "systemd[1]: Started session-%d.scope - Session %d of User root.",
        "kernel: audit: type=1400 audit(1765274400.%03d:%d): apparmor=\"ALLOWED\"",
        "sshd[%d]: Accepted publickey for backup from 10.0.0.%d port 52144 ssh2: ED25519",
        "kernel: e1000e 0000:00:19.%d eth0: NIC Link is Up 1000 Mbps Full Duplex, Flow: Rx/Tx %d",
        "CRON[%d]: (root) CMD (command -v debian-sa1 > /dev/null && debian-sa1 1 %d)",
    };
    long long written = 0;
    lines = 0;
    unsigned seed = 12345;
    char line[512];
    while (written < bytes) {
        seed = seed * 1103515245u + 12345u;
        const unsigned r = seed >> 8;
        int n = std::snprintf(line, sizeof line, "Dec  9 10:%02u:%02u host ", r % 60, r / 60 % 60);
        const long long i = lines;
        if (i % 100000 == 7) {
            n += std::snprintf(line + n, sizeof line - n,
                               "kernel: st 1:0:%u:0: attempting task abort!scmd(0x%08x), "
                               "outstanding for 62233 ms & timeout 60000 ms\n",
                               static_cast<unsigned>(i / 100000 % 4), r);
        } else if (i % 100000 == 8) {
            n += std::snprintf(line + n, sizeof line - n,
                               "kernel: st 1:0:%u:0: tag#%u CDB: Read attributes 8c 00 00 00 00 "
                               "00 00 00 00 00 00 00 00 00 00 00\n",
                               static_cast<unsigned>(i / 100000 % 4), r % 4096);
        } else if (i % 8 == 0) {
            n += std::snprintf(line + n, sizeof line - n,
                               "kernel: sd 0:0:0:0: [sda] tag#%u Done: SUCCESS Result: "
                               "hostbyte=DID_OK driverbyte=DRIVER_OK cmd_age=0s\n",
                               r % 64);
        } else if (i % 8 == 1) {
            n += std::snprintf(line + n, sizeof line - n,
                               "kernel: sd 0:0:0:0: [sda] tag#%u CDB: Read(10) 28 00 00 %02x %02x "
                               "%02x 00 00 08 00\n",
                               r % 64, r & 0xFF, r >> 8 & 0xFF, r >> 16 & 0xFF);
        } else {
            const char* fmt = others[r % (sizeof others / sizeof others[0])];
            n += std::snprintf(line + n, sizeof line - n, fmt, r % 1000, r % 100000);
            line[n++] = '\n';
        }
        std::fwrite(line, 1, static_cast<std::size_t>(n), f);
        written += n;
        ++lines;
    }
    if (std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(2);
    }
}

// Lines of a MiB, as a damaged or crafted log may hold: journal records whose message mentions
// a CDB, and kernel lines of a device, each longer than any kernel message; then a timeout.
void writeLongLines(const std::string& path, int count) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        std::perror(path.c_str());
        std::exit(2);
    }
    const std::string filler(std::size_t{1} << 20, '1');
    for (int i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            std::fprintf(f, "{\"MESSAGE\":\"st 1:0:1:0: CDB: %s 8c\",\"_TRANSPORT\":\"kernel\"}\n",
                         filler.c_str());
        } else {
            std::fprintf(f, "Dec  9 10:00:00 host kernel: st 1:0:%s:0: attempting task abort!\n",
                         filler.c_str());
        }
    }
    std::fprintf(f,
                 "Dec  9 10:00:00 host kernel: st 1:0:1:0: attempting task abort!scmd(0x1), "
                 "outstanding for 62233 ms & timeout 60000 ms\n"
                 "Dec  9 10:00:00 host kernel: st 1:0:1:0: tag#1 CDB: Read attributes 8c 00\n");
    if (std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(2);
    }
}

struct Run {
    double seconds;
    long max_rss_kib;
    int status;
};

// Runs argv with its output in `out`, timed, with the child's own peak RSS.
Run timed(const std::vector<std::string>& args, const std::string& out) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) {
            ::_exit(127);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {took.count(), usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128};
}

struct Figures {
    Run grep{1e9, 0, 0};
    Run advise{1e9, 0, 0};
};

// Best of three, alternating, over a warm page cache; the peak RSS is the largest of the three.
Figures measure(const std::string& tool, const std::string& log, const std::string& out) {
    Figures f;
    for (int i = 0; i < 3; ++i) {
        const Run g = timed({"grep", "-c", "-F", "CDB:", log}, out);
        const Run a = timed({tool, "advise", "--kernel-log", log}, out);
        f.grep.seconds = std::min(f.grep.seconds, g.seconds);
        f.advise.seconds = std::min(f.advise.seconds, a.seconds);
        f.advise.max_rss_kib = std::max(f.advise.max_rss_kib, a.max_rss_kib);
        f.grep.status = g.status;
        f.advise.status = a.status;
    }
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf("%s\n", what);
    std::printf("  grep -c -F 'CDB:'      %.3f s (best of 3)\n", f.grep.seconds);
    std::printf("  scsi-timeouts advise   %.3f s (best of 3)\n", f.advise.seconds);
    std::printf("  advise / grep          %.2f (target <= 2)\n", f.advise.seconds / f.grep.seconds);
    std::printf("  advise peak RSS        %.1f MiB (target < 16)\n",
                static_cast<double>(f.advise.max_rss_kib) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: advise_bench TOOL [SIZE_MIB] [SCRATCH_DIR]\n");
        return 2;
    }
    const std::string tool = argv[1];
    const long long mib = argc > 2 ? std::strtoll(argv[2], nullptr, 10) : 200;
    if (mib <= 0) {
        std::fprintf(stderr, "advise_bench: SIZE_MIB must be a positive number\n");
        return 2;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(argc > 3         ? argv[3]
                                  : tmp != nullptr ? tmp
                                                   : "/tmp") +
                      "/advise_bench_XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror(dir.c_str());
        return 2;
    }
    const std::string journal = dir + "/journal.log";
    const std::string out = dir + "/out";
    long long lines = 0;
    writeJournal(journal, mib << 20, lines);
    // The in-memory store of an empty registry: advise reads it and writes nothing.
    ::setenv("QRLIB_STAND_IN_FILE", (dir + "/registry.ini").c_str(), 1);

    const Figures journal_run = measure(tool, journal, out);
    std::remove(journal.c_str());
    const std::string long_lines = dir + "/long-lines.log";
    constexpr int long_count = 32;
    writeLongLines(long_lines, long_count);
    const Figures long_run = measure(tool, long_lines, out);
    std::remove(long_lines.c_str());
    std::remove(out.c_str());
    std::remove((dir + "/registry.ini").c_str());
    ::rmdir(dir.c_str());
    for (const Figures* f : {&journal_run, &long_run}) {
        if (f->grep.status != 0 || f->advise.status != 1) {  // each holds a tape timeout: exit 1
            std::fprintf(stderr, "advise_bench: grep exited %d, advise %d (expected 0 and 1)\n",
                         f->grep.status, f->advise.status);
            return 1;
        }
    }
    char what[160];
    std::snprintf(what, sizeof what,
                  "advise on a %lld MiB journal, %lld lines, 1 in 8 a SCSI completion or CDB line",
                  mib, lines);
    print(what, journal_run);
    std::snprintf(what, sizeof what, "advise on %d lines of 1 MiB, then a timeout", long_count);
    print(what, long_run);
    return 0;
}
