#include "StoreFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace qrlib_stand_in::file {

namespace {

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&&) = delete;
    Fd& operator=(Fd&&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// Opening a device or a FIFO can block or act (a tape rewinds): nothing is opened before its kind
// is known, and nothing is opened so that it could block.
constexpr int open_flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

bool isNullDevice(const struct stat& st) {
    return S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3);
}

// nullptr for a regular file.
const char* notRegular(const struct stat& st) {
    if (S_ISREG(st.st_mode)) {
        return nullptr;
    }
    return S_ISFIFO(st.st_mode)   ? "a FIFO"
           : S_ISDIR(st.st_mode)  ? "a directory"
           : S_ISCHR(st.st_mode)  ? "a character device"
           : S_ISBLK(st.st_mode)  ? "a block device"
           : S_ISSOCK(st.st_mode) ? "a socket"
                                  : "of no kind known here";
}

bool failed(const char* what, const char* path, const char* why) {
    std::fprintf(stderr, "stand-in store: cannot %s %s: %s\n", what, path, why);
    return false;
}

bool refused(const char* what, const char* path, const char* kind) {
    std::fprintf(stderr, "stand-in store: cannot %s %s: %s, not a regular file\n", what, path,
                 kind);
    return false;
}

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

// Locks the file itself. A writer that waited for the lock may hold a file that has been
// replaced meanwhile: it then locks the one now at the path.
int lockFile(const char* path, struct stat& locked) {
    for (;;) {
        const int fd = ::open(path, O_RDWR | O_CREAT | open_flags, 0666);
        if (fd < 0) {
            return -1;
        }
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

}  // namespace

ReadResult readFile(const char* path, std::string& content) {
    struct stat st {};
    if (::stat(path, &st) != 0) {
        if (errno == ENOENT) {
            return ReadResult::Missing;
        }
        failed("read", path, std::strerror(errno));
        return ReadResult::Failed;
    }
    if (isNullDevice(st)) {
        content.clear();
        return ReadResult::Read;
    }
    if (const char* kind = notRegular(st)) {
        refused("read", path, kind);
        return ReadResult::Failed;
    }
    const Fd in{::open(path, O_RDONLY | open_flags)};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0) {
        if (errno == ENOENT) {  // replaced meanwhile: as if it had not been there
            return ReadResult::Missing;
        }
        failed("read", path, std::strerror(errno));
        return ReadResult::Failed;
    }
    if (const char* kind = notRegular(st)) {  // swapped in since the look above
        refused("read", path, kind);
        return ReadResult::Failed;
    }
    content.clear();
    if (!readAll(in.get(), content)) {
        failed("read", path, std::strerror(errno));
        return ReadResult::Failed;
    }
    return ReadResult::Read;
}

bool save(const char* given_path, const std::function<std::string(const std::string&)>& edit,
          std::chrono::microseconds delay) {
    // A symlinked file is replaced where it lives, so the link keeps pointing at the store.
    char resolved[PATH_MAX];
    const char* path = ::realpath(given_path, resolved) != nullptr ? resolved : given_path;
    struct stat st {};
    const bool exists = ::stat(path, &st) == 0;
    if (exists && isNullDevice(st)) {
        return true;
    }
    if (const char* kind = exists ? notRegular(st) : nullptr) {
        return refused("save", path, kind);
    }
    const Fd file{lockFile(path, st)};
    std::string content;
    if (file.get() < 0) {
        return failed("save", path, std::strerror(errno));
    }
    // A link to no file yet: the lock has just made its target, which is replaced where it lives.
    if (path == given_path && ::realpath(given_path, resolved) != nullptr) {
        path = resolved;
    }
    if (const char* kind = notRegular(st)) {  // swapped in since the look above
        return isNullDevice(st) || refused("save", path, kind);
    }
    if (!readAll(file.get(), content)) {
        return failed("save", path, std::strerror(errno));
    }
    const std::string updated = edit(content);

    // The new content goes to a file beside the old one and replaces it by rename, so a crash at
    // any point leaves the old file or the new one.
    std::string temp = std::string(path) + ".tmpXXXXXX";
    Fd out{::mkstemp(temp.data())};
    if (out.get() < 0) {
        return failed("save", path, std::strerror(errno));
    }
    // The owner is kept where this process may keep it (root); otherwise the file becomes its own.
    if (::fchown(out.get(), st.st_uid, st.st_gid) != 0) {
        errno = 0;
    }
    if (::fchmod(out.get(), st.st_mode & 07777) != 0 || !writeAll(out.get(), updated) ||
        ::fsync(out.get()) != 0 || ::close(out.release()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return failed("save", path, std::strerror(err));
    }
    std::this_thread::sleep_for(delay);
    if (::rename(temp.c_str(), path) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return failed("save", path, std::strerror(err));
    }
    // Makes the rename itself durable; a folder that cannot be synced still has the new file.
    const std::string folder = std::string(path).substr(0, std::string(path).rfind('/') + 1);
    const Fd dir{::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
    return true;
}

}  // namespace qrlib_stand_in::file
