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

extern const char key_name[];  // "ScsiTimeouts"
// The install entry: an installation that has it lets the load repair values.
extern const char install_key[];                  // "Base"
extern const char install_name[];                 // "vARURAROD"
constexpr int32_t builtin_default_timeout = 120;  // DEFAULT's own default
constexpr int32_t no_default = -1;  // per-code values: "not stored", never written back

// A pair, so that a minimum, a maximum and a default cannot be passed in the wrong order.
struct Bounds {
    int32_t min;
    int32_t max;
};
constexpr Bounds timeout_bounds{1, 86400};  // every value: at least a second, at most a day
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
Decision decideTimeout(const char* text, Bounds bounds, int32_t def);

// Reads one value into `buffer` (value_size bytes); true when it exists. The text is always
// terminated within the buffer, whatever the store left there.
bool readValue(QrPlatformInfo& info, const char* key, const char* name, char* buffer);

// The install probe: whether the install entry exists. Uses `buffer` as readValue does.
bool probeInstallEntry(QrPlatformInfo& info, char* buffer);

// Whether the load writes the marker of the default over a value: a rewrite that is due, on an
// installation with the install entry.
constexpr bool repairs(const Decision& d, bool install_entry) {
    return d.rewrite && install_entry;
}

// The default marker of `def`, "*<def>*", into a value_size buffer.
void formatMarker(char* buffer, int32_t def);

// Turns one value of the key into its timeout: the library's reader repairs the value, the
// tool's records what it found. `context` is the caller's own.
struct ValueReader {
    int32_t (*read)(void* context, QrPlatformInfo& info, const char* name, Bounds bounds,
                    int32_t def);
    void* context;
};

// Where a value stands in load order: DEFAULT, CDB_00 to CDB_FF, then the named commands.
using ValuePosition = uint16_t;
constexpr ValuePosition default_position = 0;

// Gives each value of the key to `reader` in load order, and builds the table from the results.
// `decided_by`, when not null, gets for each entry the position in load order of the value that
// decided it.
void loadTable(QrPlatformInfo& info, const ValueReader& reader, int32_t table[256],
               ValuePosition decided_by[256]);

}  // namespace qr_scsi_timeouts
