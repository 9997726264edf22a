// Reading the registry back after a write, as a program started after it will see it.
#pragma once

#include <sys/types.h>

#include <string>

#include "command_line.h"
#include "scsi_timeouts_tool.h"

namespace scsi_timeouts_tool {

class FreshReader {
  public:
    // Made before the write: ReadBack::ForkedEarly and NewProcess fork their reader here, while
    // the store has not been written in this process.
    explicit FreshReader(ReadBack how);
    ~FreshReader();  // a reader never asked ends without reading
    FreshReader(const FreshReader&) = delete;
    FreshReader& operator=(const FreshReader&) = delete;
    FreshReader(FreshReader&&) = delete;
    FreshReader& operator=(FreshReader&&) = delete;

    // The registry as the reader finds it; false, with why on one line, when it found none.
    bool read(RegistryReport& report, std::string& why);

  private:
    void end();
    ReadBack how_;
    int socket_ = -1;
    pid_t pid_ = -1;
    int error_ = 0;  // why no reader could be forked
};

}  // namespace scsi_timeouts_tool
