// The kernel log as dmesg, syslog or journalctl write it: which SCSI commands timed out, on which
// device, and after how long. Read as a stream, line by line, in bounded memory: a year of
// journal is as good as a page of it. Each line is framed (its prefixes, or a journal record),
// its message classified, and the messages paired into events; what advise sees is the findings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "event_pairing.h"
#include "evidence.h"

namespace scsi_timeouts_tool {

class KernelLogReader {
  public:
    explicit KernelLogReader(KernelLogFindings& findings)
        : findings_(findings), pairing_(findings) {}
    // Starts the next log (its index among those given); whatever is pending in the previous one
    // is settled first.
    void startFile(int file);
    // One line of text, without its line end (a CR before it is taken off here). Counted in the
    // findings' lines; one longer than max_line is counted in their long lines and skipped.
    void line(std::string_view text);
    // One kernel message as it stands, no prefix before it, from a source that frames messages
    // itself (a journal record's MESSAGE): `place` says where it came from. Not counted as a line.
    void message(std::string_view text, const MessagePlace& place);
    // The end of the input: events still waiting for a CDB line are unnamed.
    void finish();

  private:
    KernelLogFindings& findings_;
    EventPairing pairing_;
    int file_ = 0;
    uint64_t line_ = 0;
    std::string record_message_;  // of a journal record, whose message is decoded into it
    std::string record_stamp_;
};

// read(2), again after a signal: the bytes read (0 at the end), or -1 with `error` set.
long readSome(int fd, char* data, std::size_t size, std::string& error);

// Reads `fd` to its end through `reader`. False with `error` set when a read fails.
bool readKernelLog(int fd, KernelLogReader& reader, std::string& error);

}  // namespace scsi_timeouts_tool
