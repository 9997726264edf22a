// --boot N for sd-journal: the boots that hold kernel messages, in order, and the one asked for.
#pragma once

#include <systemd/sd-journal.h>

#include <string>

#include "journal_source.h"

namespace scsi_timeouts_tool {

// The kernel's messages of a boot are matched with "_TRANSPORT=kernel".
constexpr std::string_view kernel_match = "_TRANSPORT=kernel";

// The boot id (32 hex digits) that --boot N means, or the outcome saying there is none. Leaves
// no match behind on `j`.
JournalResult chooseBoot(const JournalRequest& request, sd_journal* j, std::string& id);

}  // namespace scsi_timeouts_tool
