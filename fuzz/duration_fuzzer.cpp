// Feeds arbitrary bytes to set's DURATION reader: no crash, no sanitizer report, and every
// accepted duration within a second and a day, with an advice text for every refusal.
#include <duration.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // cut at a NUL, as argv is
    namespace tool = scsi_timeouts_tool;
    const tool::Duration d = tool::parseDuration(text.c_str());
    const std::string why = tool::durationErrorText(d.error, text.c_str());
    if (d.error == tool::DurationError::None) {
        check(d.seconds >= 1 && d.seconds <= 86400 && why.empty());
        // What the advice offers reads back as the same seconds.
        check(tool::parseDuration(tool::unitsText(d.seconds).c_str()).seconds == d.seconds);
    } else {
        check(d.seconds == 0 && !why.empty());
    }
    return 0;
}
