// What the commands of scsi-timeouts share: their arguments, where they report, how they fail.
#pragma once

#include <exception>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace scsi_timeouts_tool {

constexpr int exit_clean = 0;
constexpr int exit_findings = 1;
constexpr int exit_usage = 2;  // also a failing store, and a write that did not read back

// Where set and reset read back what they wrote.
enum class ReadBack : unsigned char {
    // The tool started anew (/proc/self/exe): the store as every program started later sees it.
    // Where the tool cannot start itself (an emulator without binfmt), ForkedEarly.
    NewProcess,
    // A copy of this process, forked before the write, with a store object of its own: what
    // the store keeps only in the writing process's memory, it does not see.
    ForkedEarly,
    // A fresh store object in this process. For the tests of what is compared, only: it sees
    // what the store keeps in memory.
    SameProcess,
};

struct Arguments {
    bool help = false;
    bool version = false;
    bool json = false;
    bool dry_run = false;
    bool apply = false;                      // advise
    bool check = false;                      // apply: --check
    bool diff = false;                       // apply: --diff
    bool exclusive = false;                  // apply: --exclusive
    std::vector<std::string> drive_reports;  // advise: --drive-report FILE, in order
    std::vector<std::string> kernel_logs;    // advise: --kernel-log FILE, in order
    std::vector<std::string> journals;  // advise: --journal[=PATH], in order; "" the host's own
    std::string since;                  // advise: --since TIME, as given
    bool since_set = false;
    bool boot_set = false;  // advise: --boot [N]
    int boot = 0;
    std::vector<std::string> devices;                  // advise: --device PATH, in order
    bool all_devices = false;                          // advise: --devices
    bool this_host = false;                            // advise: --this-host
    std::vector<std::string> operands;                 // the command first
    ReadBack how_to_read_back = ReadBack::NewProcess;  // set by the caller, not the command line
};

// Reads the command line into `args` as GNU does: options anywhere among the operands, "--"
// ends them, long options may be abbreviated. Returns an empty text, or the usage error.
std::string parseArguments(int argc, char** argv, Arguments& args);

// The report and the complaints, kept together so that they cannot change places.
struct Streams {
    std::ostream& out;
    std::ostream& err;
};

// Standard output for the report, which remembers why a write failed (ENOSPC, EPIPE), so that
// the failure can be named.
class FdOutput : public std::streambuf {
  public:
    explicit FdOutput(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
    FdOutput(const FdOutput&) = delete;
    FdOutput& operator=(const FdOutput&) = delete;
    FdOutput(FdOutput&&) = delete;
    FdOutput& operator=(FdOutput&&) = delete;
    ~FdOutput() override { drain(); }
    int error() const { return error_; }  // errno of the first failed write; 0: none

  protected:
    int overflow(int c) override;
    int sync() override;

  private:
    bool drain();
    int fd_;
    int error_ = 0;
    char buffer_[4096];
};

// What a store prints on standard error while it works, collected so that a failure makes one
// line with the store's words in it. What is not taken goes to standard error at the end.
class StoreMessages {
  public:
    StoreMessages();
    ~StoreMessages();
    StoreMessages(const StoreMessages&) = delete;
    StoreMessages& operator=(const StoreMessages&) = delete;
    StoreMessages(StoreMessages&&) = delete;
    StoreMessages& operator=(StoreMessages&&) = delete;
    // Stops collecting; the text so far, its lines joined by "; ".
    std::string take();

  private:
    void stop(bool pass_on);
    int saved_ = -1;
    int file_ = -1;
};

// "write error on standard output: No space left on device": why `out` failed, as coreutils
// names it.
std::string writeError(const std::ostream& out);

// One line on `err`, pointing to --help, every unsafe byte of the message escaped. Returns
// exit_usage.
int usageError(std::ostream& err, const std::string& message);

// One line on `err`, whatever the store put in its message and printed. Returns exit_usage.
int storeFailed(std::ostream& err, const char* what, const std::string& store_said = "");

// Runs `action` on the store, turning whatever it throws into the one-line failure and `status`.
template <typename Action>
bool withStore(std::ostream& err, int& status, Action action) {
    StoreMessages messages;
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        status = storeFailed(err, e.what(), messages.take());
    } catch (...) {
        status = storeFailed(err, "unknown exception", messages.take());
    }
    return false;
}

// set (`set` true) and reset, with the command's operands in `args`.
int runWrite(const Arguments& args, bool set, Streams io);

// The hidden --read-back: reads the registry with a store object of this process and sends the
// report, or why there is none, to `fd`. Returns the exit status.
int answerReadBack(int fd);

}  // namespace scsi_timeouts_tool
