// The host's own evidence added to what the files gave: the journals' kernel messages through
// the same reader as a text log's, and the devices' answers as drive reports.
#pragma once

#include <iosfwd>

#include "advice.h"
#include "command_line.h"
#include "kernel_log_reader.h"
#include "scsi_device.h"

namespace scsi_timeouts_tool {

// False with one line on `err` (exit status 2) when a journal cannot be read or the host has
// nothing to read. `transport`: nullptr for the devices' own nodes.
bool readHostEvidence(const Arguments& args, KernelLogReader& reader, Evidence& ev,
                      std::ostream& err, ScsiTransport* transport = nullptr);

// " (IBM ULT3580-TD8 Q3F2, 1:0:1:0)": what a device is, after its path; empty when unknown.
std::string deviceIdentity(const DeviceAnswer& device);

}  // namespace scsi_timeouts_tool
