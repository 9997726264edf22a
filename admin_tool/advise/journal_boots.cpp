// Boots as journalctl counts them: 0 the current boot (the last one of a copied journal), -1 the
// one before, 1 the first; ordered by their first kernel message.
#include "journal_boots.h"

#include <algorithm>
#include <fstream>
#include <utility>
#include <vector>

namespace scsi_timeouts_tool {

namespace {

// The boot this host runs now, as the kernel names it.
bool currentBoot(const std::string& root, std::string& id) {
    if (root.empty()) {
        sd_id128_t boot{};
        if (sd_id128_get_boot(&boot) < 0) {
            return false;
        }
        char text[SD_ID128_STRING_MAX];
        id = sd_id128_to_string(boot, text);
        return true;
    }
    std::ifstream in(root + "/proc/sys/kernel/random/boot_id");
    std::getline(in, id);
    id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
    return id.size() == 32;
}

// The boots that have kernel messages, oldest first.
std::vector<std::string> boots(sd_journal* j) {
    std::vector<std::pair<uint64_t, std::string>> found;
    if (sd_journal_query_unique(j, "_BOOT_ID") < 0) {
        return {};
    }
    const void* data = nullptr;
    size_t size = 0;
    std::vector<std::string> ids;
    SD_JOURNAL_FOREACH_UNIQUE(j, data, size) {
        const std::string_view field(static_cast<const char*>(data), size);
        ids.emplace_back(field.substr(field.find('=') + 1));
    }
    for (const std::string& id : ids) {
        sd_journal_flush_matches(j);
        const std::string match = "_BOOT_ID=" + id;
        uint64_t first = 0;
        if (sd_journal_add_match(j, kernel_match.data(), kernel_match.size()) >= 0 &&
            sd_journal_add_match(j, match.data(), match.size()) >= 0 &&
            sd_journal_seek_head(j) >= 0 && sd_journal_next(j) > 0 &&
            sd_journal_get_realtime_usec(j, &first) >= 0) {
            found.emplace_back(first, id);
        }
    }
    sd_journal_flush_matches(j);
    std::sort(found.begin(), found.end());
    std::vector<std::string> out;
    out.reserve(found.size());
    for (auto& f : found) {
        out.push_back(std::move(f.second));
    }
    return out;
}

}  // namespace

JournalResult chooseBoot(const JournalRequest& request, sd_journal* j, std::string& id) {
    JournalResult r;
    const std::vector<std::string> all = boots(j);
    long index = -1;
    if (request.boot > 0) {
        index = request.boot - 1;
    } else if (!request.host) {
        index = static_cast<long>(all.size()) - 1 + request.boot;
    } else {
        std::string now;
        if (!currentBoot(request.root, now)) {
            r.outcome = JournalOutcome::Failed;
            r.error = "cannot tell this host's current boot";
            return r;
        }
        if (request.boot == 0) {
            id = now;
            return r;
        }
        const auto at = std::find(all.begin(), all.end(), now);
        index = at == all.end() ? -1 : static_cast<long>(at - all.begin()) + request.boot;
    }
    if (index < 0 || index >= static_cast<long>(all.size())) {
        r.outcome = JournalOutcome::Failed;
        r.error = "no boot " + std::to_string(request.boot) + " in the journal: it holds the " +
                  "kernel's messages of " + std::to_string(all.size()) +
                  (all.size() == 1 ? " boot" : " boots");
        return r;
    }
    id = all[static_cast<std::size_t>(index)];
    return r;
}

}  // namespace scsi_timeouts_tool
