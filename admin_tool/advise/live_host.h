// advise's evidence from the running host: the journal's kernel messages and the drives' own
// answers, as --journal, --device, --devices and --this-host ask. What a source cannot give is
// said: a device that cannot answer is listed with its reason, a host without a journal or
// without tape devices is warned of under --this-host, and a host with neither is an error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "command_line.h"
#include "journal_source.h"
#include "scsi_device.h"

namespace scsi_timeouts_tool {

// Whether the command line asks anything of the host.
bool asksHost(const Arguments& args);

struct HostEvidence {
    std::vector<std::string> journals;  // what was read: "the journal of this host", or a PATH
    uint64_t journal_entries = 0;
    std::vector<DeviceAnswer> devices;  // every device asked, with its report or its reason
    std::vector<std::string> warnings;
};

// Called for each kernel message, with the index of its journal in HostEvidence::journals.
using JournalSink = std::function<void(std::size_t journal, const JournalEntry& entry)>;

// Reads what `args` asks of the host. False with `error` (one line, exit status 2) when a
// journal cannot be read or the host has nothing at all. `transport` sends the devices'
// requests (nullptr: their SCSI generic nodes); `other_evidence` says whether files were given.
bool readHost(const Arguments& args, bool other_evidence, ScsiTransport* transport,
              const JournalSink& sink, HostEvidence& ev, std::string& error);

}  // namespace scsi_timeouts_tool
