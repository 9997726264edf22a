// The module's decisions, shared with the administrator's tool so that what the tool reports is
// what the library does. Not installed; the library exports none of it.
#pragma once

#include <cstdint>

class QrPlatformInfo;

namespace qr_scsi_timeouts {

struct ScsiTimeoutEntry {
    unsigned char opcode;
    const char* name;
    int32_t timeout;
};

constexpr int named_count = 17;
// The named commands, in the order the load reads and repairs them.
extern const ScsiTimeoutEntry default_timeout_arr[named_count];

extern const char key_name[];                     // "ScsiTimeouts"
constexpr int32_t builtin_default_timeout = 120;  // DEFAULT's own default
constexpr int32_t min_timeout = 1;
constexpr int32_t max_timeout = 86400;  // one day
constexpr int32_t no_default = -1;      // per-code values: "not stored", never written back
constexpr int value_size = 128;
constexpr int value_count = 1 + 256 + named_count;  // reads per load

// Why a stored text gives what it gives; Clean is the only one left alone.
enum class Verdict : unsigned char {
    Clean,
    Absent,
    Empty,
    BelowMinimum,
    AboveMaximum,
    StaleMarker,
    UnclosedMarker,
    NotANumber,
    TrailingText,
};

struct Decision {
    int32_t timeout;
    bool rewrite;     // to the marker of the default; never for a default that is not positive
    Verdict verdict;  // why
    int number_end;   // offset of the first character the leading number did not take
};

// The decision about one stored text (nullptr: no value stored). Touches no store.
Decision decideTimeout(const char* text, int32_t min, int32_t max, int32_t def);

// Reads one value into `buffer` (value_size bytes); true when it exists. The text is always
// terminated within the buffer, whatever the store left there.
bool readValue(QrPlatformInfo& info, const char* key, const char* name, char* buffer);

// The default marker of `def`, "*<def>*", into a value_size buffer.
void formatMarker(char* buffer, int32_t def);

// Where a table entry came from.
enum class Source : unsigned char { Default, PerCode, Named };

// Gives each value of the key to `read` in load order, and builds the table from the results.
// `source` may be null.
using ValueReader = int32_t (*)(QrPlatformInfo& info, const char* name, int32_t min, int32_t max,
                                int32_t def);
void loadTable(QrPlatformInfo& info, ValueReader read, int32_t* table, Source* source);

}  // namespace qr_scsi_timeouts
