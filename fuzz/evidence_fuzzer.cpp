// Feeds arbitrary bytes to advise's two readers of outside evidence, as a drive's report (its
// bytes, or sg_opcodes' table when the first byte is not 0) and as kernel-log lines: no crash, no
// sanitizer report, and findings that add up.
#include <drive_report.h>
#include <kernel_log_reader.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    namespace tool = scsi_timeouts_tool;
    const tool::DriveReport report = tool::parseDriveReport(data, size);
    check(report.malformed != report.reason.empty());
    check(report.malformed || report.with_timeouts > 0);
    for (const tool::DriveAsk& ask : report.asks) {
        check(!ask.present ||
              (ask.seconds != 0 && (ask.seconds == ask.recommended || ask.seconds == ask.nominal)));
    }

    tool::KernelLogFindings findings;
    tool::KernelLogReader reader(findings);
    reader.startFile(0);
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    uint64_t lines = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        reader.line(rest.substr(0, end));
        reader.message(rest.substr(0, end), {lines, {}});  // as a journal source gives it
        ++lines;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    reader.finish();
    check(findings.lines == lines);
    uint64_t events = 0;
    for (const tool::CodeEvidence& code : findings.codes) {
        events += code.events;
        check(code.examples.size() <= tool::CodeEvidence::max_examples &&
              code.examples.size() <= code.events);
    }
    check(events == findings.events);
    check(findings.unnamed_examples.size() <= tool::KernelLogFindings::max_unnamed_examples &&
          findings.unnamed_examples.size() <= findings.unnamed);
    return 0;
}
