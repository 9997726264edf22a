// scsi-timeouts run inside the test binary as its main() runs it, with what it printed.
#pragma once

#include <scsi_timeouts_tool.h>

#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// `args` without the program's name. Where a write reads back is the caller's choice: a new
// process would be this test binary, not the tool.
inline int runToolInto(std::ostream& out, std::ostream& err, std::vector<std::string> args,
                       scsi_timeouts_tool::ReadBack read_back) {
    args.insert(args.begin(), "scsi-timeouts");
    std::vector<char*> argv;
    argv.reserve(args.size());
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    return scsi_timeouts_tool::runTool(static_cast<int>(argv.size()), argv.data(), out, err,
                                       read_back);
}

inline Outcome runToolFor(std::vector<std::string> args, scsi_timeouts_tool::ReadBack read_back) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = runToolInto(out, err, std::move(args), read_back);
    return {status, out.str(), err.str()};
}
