#include "read_back.h"

#include <QrPlatformInfo.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <type_traits>

#ifdef QR_COVERAGE
extern "C" void __gcov_dump();  // NOLINT: libgcov's own name
#endif

namespace scsi_timeouts_tool {

namespace {

// The answer: this byte and the report's bytes (the reader is this same program), or this
// byte and why there is none.
constexpr char report_follows = 'R';
constexpr char failure_follows = 'F';
static_assert(std::is_trivially_copyable_v<RegistryReport>, "sent as its bytes");

bool readHere(RegistryReport& report, std::string& why) {
    StoreMessages messages;
    try {
        QrPlatformInfo info;
        readRegistry(info, report);
        static_cast<void>(messages.take());  // the writer has shown what its own reads said
        return true;
    } catch (const std::exception& e) {
        why = std::string("the platform store failed: ") + e.what();
    } catch (...) {
        why = "the platform store failed: unknown exception";
    }
    const std::string said = messages.take();
    if (!said.empty() && why.find(said) == std::string::npos) {
        why += " (" + said + ")";
    }
    return false;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The forked reader: waits until the write is done (or given up), then reads.
[[noreturn]] void serve(int fd, ReadBack how) {
    char go = 0;
    ssize_t n = 0;
    do {
        n = ::read(fd, &go, 1);
    } while (n < 0 && errno == EINTR);
    if (n == 1 && how == ReadBack::NewProcess && ::dup2(fd, STDOUT_FILENO) >= 0) {
        char name[] = "scsi-timeouts";
        char option[] = "--read-back";
        char* argv[] = {name, option, nullptr};
        ::execv("/proc/self/exe", argv);
        // Not startable here (an emulator without binfmt runs no second program): this copy,
        // forked before the write, reads instead.
    }
    if (n == 1) {
        answerReadBack(fd);
    }
#ifdef QR_COVERAGE
    __gcov_dump();  // _exit writes no counters
#endif
    ::_exit(0);  // nothing of the writer's runs twice: no exit handlers, no buffers
}

}  // namespace

int answerReadBack(int fd) {
    const auto report = std::make_unique<RegistryReport>();
    std::string why;
    std::string answer;
    if (readHere(*report, why)) {
        answer = std::string(1, report_follows) +
                 std::string(reinterpret_cast<const char*>(report.get()), sizeof *report);
    } else {
        answer = std::string(1, failure_follows) + why;
    }
    return writeAll(fd, answer.data(), answer.size()) && answer[0] == report_follows ? exit_clean
                                                                                     : exit_usage;
}

FreshReader::FreshReader(ReadBack how) : how_(how) {
    if (how == ReadBack::SameProcess) {
        return;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        error_ = errno;
        return;
    }
    std::fflush(nullptr);  // nothing buffered is written twice
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(fds[0]);
        serve(fds[1], how);
    }
    error_ = errno;
    ::close(fds[1]);
    if (pid_ < 0) {
        ::close(fds[0]);
        return;
    }
    socket_ = fds[0];
}

FreshReader::~FreshReader() {
    end();
}

void FreshReader::end() {
    if (socket_ >= 0) {
        ::close(socket_);  // the reader reads no go: it ends
        socket_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

bool FreshReader::read(RegistryReport& report, std::string& why) {
    if (how_ == ReadBack::SameProcess) {
        return readHere(report, why);
    }
    if (socket_ < 0) {
        why = std::string("cannot start the read-back process: ") + std::strerror(error_);
        return false;
    }
    const char go = 'g';
    std::string answer;
    if (::send(socket_, &go, 1, MSG_NOSIGNAL) == 1) {
        char buffer[8192];
        ssize_t n = 0;
        while ((n = ::read(socket_, buffer, sizeof buffer)) != 0) {
            if (n > 0) {
                answer.append(buffer, static_cast<std::size_t>(n));
            } else if (errno != EINTR) {
                break;
            }
        }
    }
    end();
    if (answer.size() == 1 + sizeof report && answer[0] == report_follows) {
        std::memcpy(&report, answer.data() + 1, sizeof report);
        return true;
    }
    why = !answer.empty() && answer[0] == failure_follows
              ? answer.substr(1)
              : std::string("the read-back process ended without an answer");
    return false;
}

}  // namespace scsi_timeouts_tool
