#include "StoreFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
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

namespace {

[[noreturn]] void cannotRead(const char* path, const std::string& why) {
    throw std::runtime_error("stand-in store: cannot read " + std::string(path) + ": " + why);
}

}  // namespace

bool readFile(const char* path, std::string& content) {
    struct stat st {};
    if (::stat(path, &st) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        cannotRead(path, std::strerror(errno));
    }
    if (isNullDevice(st)) {
        content.clear();
        return true;
    }
    if (const char* kind = notRegular(st)) {
        cannotRead(path, std::string(kind) + ", not a regular file");
    }
    const Fd in{::open(path, O_RDONLY | open_flags)};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0) {
        if (errno == ENOENT) {  // replaced meanwhile: as if it had not been there
            return false;
        }
        cannotRead(path, std::strerror(errno));
    }
    if (const char* kind = notRegular(st)) {  // swapped in since the look above
        cannotRead(path, std::string(kind) + ", not a regular file");
    }
    content.clear();
    if (!readAll(in.get(), content)) {
        cannotRead(path, std::strerror(errno));
    }
    return true;
}

namespace {

// Names the temporary file of a save: distinct enough that no copy a person makes beside the
// store (registry.ini.tmpbackup) is ever taken for a killed save's leftover.
constexpr const char* save_infix = ".stand-in-save-";

// The temporary files of saves of `path` that were killed before their rename: named as mkstemp
// names them beside it, regular, and this user's. Nothing else in the folder is touched.
void removeLeftovers(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string prefix = path.substr(slash + 1) + save_infix;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;  // not readable: nothing is removed, and the save goes on
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        struct stat st {};
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }) &&
            ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
            ::unlinkat(::dirfd(dir), e->d_name, 0);
        }
    }
    ::closedir(dir);
}

bool failedWithTemp(const std::string& temp, const char* path, const std::string& why) {
    ::unlink(temp.c_str());
    return failed("save", path, why.c_str());
}

}  // namespace

bool save(const char* given_path, const std::function<std::string(const std::string&)>& edit,
          const std::function<void(SavePoint)>& reached) {
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
    if (st.st_nlink > 1) {
        const std::string why = "it has " + std::to_string(st.st_nlink) +
                                " names (hard links), and a save would give only this one the "
                                "new content";
        return failed("save", path, why.c_str());
    }
    reached(SavePoint::Locked);
    removeLeftovers(path);
    if (!readAll(file.get(), content)) {
        return failed("save", path, std::strerror(errno));
    }
    const std::string updated = edit(content);

    // The new content goes to a file beside the old one and replaces it by rename, so a crash at
    // any point leaves the old file or the new one.
    std::string temp = std::string(path) + save_infix + "XXXXXX";
    Fd out{::mkstemp(temp.data())};
    if (out.get() < 0) {
        return failed("save", path, std::strerror(errno));
    }
    reached(SavePoint::TempCreated);
    // The owner is kept where this process may keep it (root); otherwise the file becomes the
    // writer's but keeps its group, through which others may share it. A group that cannot be kept
    // either fails the save: the others would lose the file.
    if (::fchown(out.get(), st.st_uid, st.st_gid) != 0 &&
        ::fchown(out.get(), static_cast<uid_t>(-1), st.st_gid) != 0) {
        const int err = errno;
        return failedWithTemp(
            temp, path,
            "cannot keep its group (gid " + std::to_string(st.st_gid) + "): " + std::strerror(err));
    }
    if (::fchmod(out.get(), st.st_mode & 07777) != 0 || !writeAll(out.get(), updated) ||
        ::fsync(out.get()) != 0 || ::close(out.release()) != 0) {
        const int err = errno;
        return failedWithTemp(temp, path, std::strerror(err));
    }
    reached(SavePoint::TempWritten);
    if (::rename(temp.c_str(), path) != 0) {
        const int err = errno;
        return failedWithTemp(temp, path, std::strerror(err));
    }
    reached(SavePoint::Renamed);
    // Makes the rename itself durable. EINVAL: a file system that has nothing to sync there.
    const std::string folder = std::string(path).substr(0, std::string(path).rfind('/') + 1);
    const Fd dir{::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.get() < 0 || (::fsync(dir.get()) != 0 && errno != EINVAL)) {
        const int err = errno;
        const std::string why = std::string(
                                    "in place, but its folder could not be synced, so a "
                                    "crash may still lose it: ") +
                                std::strerror(err);
        return failed("save", path, why.c_str());
    }
    return true;
}

}  // namespace qrlib_stand_in::file
