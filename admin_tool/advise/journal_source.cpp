// sd-journal, opened on what was asked, checked for what it does not report itself (an empty
// set of files, files it skipped as unreadable or corrupt), then read entry by entry.
#include "journal_source.h"

#include "journal_boots.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

namespace scsi_timeouts_tool {

namespace {

constexpr std::string_view groups_needed =
    "the kernel's messages need membership of group systemd-journal or adm, or root";

struct JournalCloser {
    void operator()(sd_journal* j) const { sd_journal_close(j); }
};
using Journal = std::unique_ptr<sd_journal, JournalCloser>;

bool endsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The journal files in `dir` and in its sub-folders (one per machine), as sd-journal finds them.
void journalFiles(const std::string& dir, int depth, std::vector<std::string>& out) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = dir;
        path += '/';
        path += name;
        if (endsWith(name, ".journal") || endsWith(name, ".journal~")) {
            out.push_back(path);
        } else if (depth > 0 && isDirectory(path)) {
            journalFiles(path, depth - 1, out);
        }
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
}

std::string errorText(int negative_errno) {
    return std::strerror(-negative_errno);
}

// What sd-journal leaves out of a folder without a word: the files this user cannot read, and
// the files it cannot open (corrupt, or not a journal at all). Empty: all well.
JournalResult checkFiles(const std::vector<std::string>& files, bool host) {
    JournalResult r;
    for (const std::string& file : files) {
        if (::faccessat(AT_FDCWD, file.c_str(), R_OK, AT_EACCESS) != 0) {
            const bool system = file.find("/system") != std::string::npos;
            if (host && !system) {
                continue;  // another user's journal: theirs, and never the kernel's
            }
            r.outcome = host ? JournalOutcome::NoPermission : JournalOutcome::Failed;
            r.error = "cannot read " + file + ": " + std::strerror(errno);
            if (host) {
                r.error += " (" + std::string(groups_needed) + ")";
            }
            return r;
        }
        const char* one[] = {file.c_str(), nullptr};
        sd_journal* j = nullptr;
        const int rc = sd_journal_open_files(&j, one, 0);
        if (rc < 0) {
            r.outcome = JournalOutcome::Failed;
            r.error = "cannot open journal file " + file + ": " + errorText(rc);
            return r;
        }
        sd_journal_close(j);
    }
    return r;
}

JournalResult opened(const JournalRequest& request, Journal& journal) {
    JournalResult r;
    std::vector<std::string> files;
    sd_journal* j = nullptr;
    int rc = 0;
    if (request.host) {
        const std::string root = request.root.empty() ? "" : request.root;
        for (const char* dir : {"/var/log/journal", "/run/log/journal"}) {
            journalFiles(root + dir, 1, files);
        }
        if (files.empty()) {
            r.outcome = JournalOutcome::NoJournal;
            r.error =
                "no journal on this host: no journal files in /var/log/journal or "
                "/run/log/journal (no systemd, or a container)";
            return r;
        }
        r = checkFiles(files, true);
        if (r.outcome != JournalOutcome::Read) {
            return r;
        }
        rc = request.root.empty()
                 ? sd_journal_open(&j, SD_JOURNAL_LOCAL_ONLY)
                 : sd_journal_open_directory(&j, request.root.c_str(), SD_JOURNAL_OS_ROOT);
    } else if (isDirectory(request.path)) {
        journalFiles(request.path, 1, files);
        if (files.empty()) {
            r.outcome = JournalOutcome::NoJournal;
            r.error = "no journal files (*.journal) in " + request.path;
            return r;
        }
        r = checkFiles(files, false);
        if (r.outcome != JournalOutcome::Read) {
            return r;
        }
        rc = sd_journal_open_directory(&j, request.path.c_str(), 0);
    } else {
        const char* one[] = {request.path.c_str(), nullptr};
        rc = sd_journal_open_files(&j, one, 0);
    }
    if (rc < 0) {
        r.outcome = rc == -ENOENT ? JournalOutcome::NoJournal : JournalOutcome::Failed;
        r.error = "cannot open journal " + (request.host ? "of this host" : request.path) + ": " +
                  errorText(rc);
        return r;
    }
    journal.reset(j);
    return r;
}

}  // namespace

std::string cursorOf(const JournalEntry& entry) {
    char* cursor = nullptr;
    if (sd_journal_get_cursor(static_cast<sd_journal*>(entry.journal), &cursor) < 0) {
        return "";
    }
    std::string out = cursor;
    std::free(cursor);
    return out;
}

JournalResult readJournal(const JournalRequest& request,
                          const std::function<void(const JournalEntry&)>& each) {
    Journal journal;
    JournalResult r = opened(request, journal);
    if (r.outcome != JournalOutcome::Read) {
        return r;
    }
    sd_journal* j = journal.get();
    std::string boot;
    if (request.boot_set) {
        r = chooseBoot(request, j, boot);
        if (r.outcome != JournalOutcome::Read) {
            return r;
        }
    }
    int rc = sd_journal_add_match(j, kernel_match.data(), kernel_match.size());
    if (rc >= 0 && !boot.empty()) {
        const std::string match = "_BOOT_ID=" + boot;
        rc = sd_journal_add_match(j, match.data(), match.size());
    }
    if (rc >= 0) {
        rc = request.since_set ? sd_journal_seek_realtime_usec(j, request.since_usec)
                               : sd_journal_seek_head(j);
    }
    while (rc >= 0 && (rc = sd_journal_next(j)) > 0) {
        JournalEntry e;
        if (sd_journal_get_realtime_usec(j, &e.realtime_usec) < 0 ||
            (request.since_set && e.realtime_usec < request.since_usec)) {
            continue;  // the files' orders differ: the seek is where to start, not the rule
        }
        const void* data = nullptr;
        size_t size = 0;
        if (sd_journal_get_data(j, "MESSAGE", &data, &size) < 0) {
            continue;
        }
        e.message = std::string_view(static_cast<const char*>(data), size).substr(8);
        e.position = ++r.entries;
        e.journal = j;
        each(e);
    }
    if (rc < 0) {
        r.outcome = JournalOutcome::Failed;
        r.error = "cannot read journal " + (request.host ? "of this host" : request.path) + ": " +
                  errorText(rc);
    }
    return r;
}

}  // namespace scsi_timeouts_tool
