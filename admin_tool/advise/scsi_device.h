// A tape drive or medium changer asked for its own command timeouts: INQUIRY for what it is,
// then REPORT SUPPORTED OPERATION CODES with its timeouts descriptors (RCTD), whose answer is
// read exactly as a --drive-report file. The requests are built and the answers and sense data
// read here; sending them is the transport's one job, so that tests feed recorded answers.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace scsi_timeouts_tool {

// Every request's own timeout: a drive busy with a rewind may take its time to answer.
constexpr int scsi_request_timeout_s = 60;

struct ScsiRequest {
    std::array<unsigned char, 16> cdb{};
    std::size_t cdb_size = 0;
    unsigned char* data = nullptr;  // data in, from the device
    std::size_t size = 0;
    int timeout_s = scsi_request_timeout_s;
};

struct ScsiResult {
    enum class Kind : unsigned char { Good, CheckCondition, OtherStatus, TimedOut, Failed };
    Kind kind = Kind::Failed;
    int status = 0;                    // the SCSI status byte, for OtherStatus
    std::vector<unsigned char> sense;  // for CheckCondition
    std::size_t received = 0;          // bytes of data in
    std::string error;                 // for Failed: the system's or the transport's words
};

// The way to a device. open() and close() bracket the requests; send() is the seam.
class ScsiTransport {
  public:
    ScsiTransport() = default;
    ScsiTransport(const ScsiTransport&) = delete;
    ScsiTransport& operator=(const ScsiTransport&) = delete;
    ScsiTransport(ScsiTransport&&) = delete;
    ScsiTransport& operator=(ScsiTransport&&) = delete;
    virtual ~ScsiTransport() = default;
    // False with `reason` (one clause: "permission denied: ...") when the node cannot be used.
    virtual bool open(const std::string& path, std::string& reason) = 0;
    virtual ScsiResult send(const ScsiRequest& request) = 0;
    virtual void close() = 0;
};

struct DeviceAnswer {
    std::string path;  // as given
    std::string hctl;  // "1:0:1:0"; empty when sysfs does not say
    std::string vendor, product, revision;
    int type = -1;                      // peripheral device type: 1 tape, 8 medium changer
    std::vector<unsigned char> report;  // the answer, as `sg_opcodes --rctd --raw` writes it
    std::string reason;                 // why there is no report; empty when there is one
};

// Asks the device at `path` (a /dev/sgN). `sys` is the sysfs root, for its H:C:T:L and, for a
// tape node given by mistake, the sg node to give instead.
DeviceAnswer askDevice(const std::string& path, ScsiTransport& transport, const std::string& sys);

// "0x08": a status byte or sense code as the standard prints it.
std::string scsiByte(int v);

// Sense data in words: "ILLEGAL REQUEST, invalid command operation code (ASC/ASCQ 0x20/0x00)".
// `key` is set to the sense key, -1 when the data cannot be read.
std::string senseText(const std::vector<unsigned char>& sense, int& key, int& asc);

// Why a node is not a SCSI generic node, or empty when it is one (character device, major 21).
std::string nodeProblem(const struct stat& st);
// Why opening it failed, from errno and its stat: the group that owns it for EACCES.
std::string openProblem(int error, const struct stat& st);

}  // namespace scsi_timeouts_tool
