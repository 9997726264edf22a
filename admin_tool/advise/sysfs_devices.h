// What sysfs says of the host's SCSI devices: the SCSI generic nodes with their peripheral
// types, a node's H:C:T:L, the sg node of a tape node.
#pragma once

#include <string>
#include <vector>

namespace scsi_timeouts_tool {

// The host's root: "" (that is, "/"), or for tests only the folder that
// SCSI_TIMEOUTS_TEST_ROOT names, under which sys/, dev/, proc/ and the journal are looked for.
std::string hostRoot();

struct SgNode {
    std::string name;     // "sg3"
    int type = -1;        // peripheral device type; -1 when it could not be read
    std::string problem;  // why not, then
};

// Every node of <sys>/class/scsi_generic, in the order of their numbers.
std::vector<SgNode> scsiGenericNodes(const std::string& sys);

// The tape drives (type 1) and medium changers (type 8) among them.
bool isTapeOrChanger(const SgNode& node);

// "1:0:1:0" for "sg3", or empty.
std::string hctlOf(const std::string& sys, const std::string& sg_name);

// "sg3" for a tape node's name ("st0", "nst0l"), or empty.
std::string sgOfTape(const std::string& sys, const std::string& tape_name);

}  // namespace scsi_timeouts_tool
