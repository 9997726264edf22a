// The real way to a device: its SCSI generic node, through libsgutils2's pass-through.
#pragma once

#include "scsi_device.h"

namespace scsi_timeouts_tool {

class SgTransport final : public ScsiTransport {
  public:
    SgTransport() = default;
    SgTransport(const SgTransport&) = delete;
    SgTransport& operator=(const SgTransport&) = delete;
    SgTransport(SgTransport&&) = delete;
    SgTransport& operator=(SgTransport&&) = delete;
    ~SgTransport() override { close(); }
    bool open(const std::string& path, std::string& reason) override;
    ScsiResult send(const ScsiRequest& request) override;
    void close() override;

  private:
    int fd_ = -1;
};

}  // namespace scsi_timeouts_tool
