// The kernel's messages read from a systemd journal through sd-journal: the host's own, or a
// file or folder of files copied from another host. Only entries the kernel logged
// (_TRANSPORT=kernel) are read, whatever another program calls itself. One entry at a time:
// the journal's files are mapped, and nothing of an entry is kept once it has been handed on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace scsi_timeouts_tool {

struct JournalRequest {
    bool host = true;  // the host's own journal; else `path`
    std::string path;  // a journal file, or a folder of them
    bool since_set = false;
    uint64_t since_usec = 0;  // inclusive
    bool boot_set = false;
    int boot = 0;      // 0 the current (or, in a copied journal, the last) boot, -1 the one before
    std::string root;  // tests only: the host's root, where var/, run/ and proc/ are looked for
};

// One kernel message. The views are valid during the call only.
struct JournalEntry {
    std::string_view message;  // the MESSAGE field's bytes, binary or not
    uint64_t position = 0;     // 1-based, among the entries read
    uint64_t realtime_usec = 0;
    void* journal = nullptr;  // where it is read, for its cursor
};

// sd-journal's cursor of the entry, to find it again: made only when asked for (it costs an
// allocation and some formatting per entry). Valid during the call only.
std::string cursorOf(const JournalEntry& entry);

enum class JournalOutcome : unsigned char {
    Read,          // every matching entry was handed on (there may be none)
    NoJournal,     // no journal file where one was looked for
    NoPermission,  // the kernel's messages are in files this user cannot read
    Failed,        // a corrupt file, a read error, no such boot
};

struct JournalResult {
    JournalOutcome outcome = JournalOutcome::Read;
    std::string error;  // one line, for every outcome but Read
    uint64_t entries = 0;
};

// Reads the journal, calling `each` for every kernel message in order.
JournalResult readJournal(const JournalRequest& request,
                          const std::function<void(const JournalEntry&)>& each);

}  // namespace scsi_timeouts_tool
