// Where scsi-timeouts reports: standard output that remembers why a write failed, the store's
// own messages collected into the one line of a failure, and the one-line errors.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

#include "command_line.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

int FdOutput::overflow(int c) {
    if (!drain()) {
        return traits_type::eof();
    }
    if (c != traits_type::eof()) {
        *pptr() = static_cast<char>(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int FdOutput::sync() {
    return drain() ? 0 : -1;
}

bool FdOutput::drain() {
    const char* p = pbase();
    while (p < pptr() && error_ == 0) {
        const ssize_t n = ::write(fd_, p, static_cast<std::size_t>(pptr() - p));
        if (n > 0) {
            p += n;
        } else if (n < 0 && errno != EINTR) {
            error_ = errno;
        }
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return error_ == 0;
}

StoreMessages::StoreMessages() {
    std::fflush(stderr);
    file_ = ::memfd_create("scsi-timeouts-store-messages", MFD_CLOEXEC);
    saved_ = file_ >= 0 ? ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1;
    if (saved_ < 0 || ::dup2(file_, STDERR_FILENO) < 0) {
        stop(false);  // nothing collected: the store speaks for itself
    }
}

StoreMessages::~StoreMessages() {
    stop(true);
}

void StoreMessages::stop(bool pass_on) {
    if (saved_ >= 0) {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
        if (pass_on) {
            char buffer[4096];
            ssize_t n = 0;
            ::lseek(file_, 0, SEEK_SET);
            while ((n = ::read(file_, buffer, sizeof buffer)) > 0) {
                static_cast<void>(!::write(STDERR_FILENO, buffer, static_cast<std::size_t>(n)));
            }
        }
    }
    if (file_ >= 0 && pass_on) {
        ::close(file_);
        file_ = -1;
    }
}

std::string StoreMessages::take() {
    stop(false);
    std::string text;
    if (file_ >= 0) {
        char buffer[4096];
        ssize_t n = 0;
        ::lseek(file_, 0, SEEK_SET);
        while ((n = ::read(file_, buffer, sizeof buffer)) > 0 &&
               text.size() < std::size_t{64} * 1024) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(file_);
        file_ = -1;
    }
    std::string line;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            line += line.empty() || line.back() == ' ' ? "" : "; ";
        } else {
            line += c;
        }
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == ';')) {
        line.pop_back();
    }
    return line;
}

int usageError(std::ostream& err, const std::string& message) {
    err << "scsi-timeouts: " << terminalSafe(message) << "; see 'scsi-timeouts --help'\n";
    return exit_usage;
}

int storeFailed(std::ostream& err, const char* what, const std::string& store_said) {
    std::string line = what;
    if (!store_said.empty() && line.find(store_said) == std::string::npos) {
        line += " (" + store_said + ")";
    }
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';  // one line, whatever the store put in its message
        }
    }
    err << "scsi-timeouts: the platform store failed: " << terminalSafe(line) << '\n';
    return exit_usage;
}

std::string writeError(const std::ostream& out) {
    const auto* fd = dynamic_cast<const FdOutput*>(out.rdbuf());
    const int error = fd != nullptr ? fd->error() : 0;
    return std::string("write error on standard output") +
           (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
}

}  // namespace scsi_timeouts_tool
