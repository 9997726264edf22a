// The SCSI timeout table: built-in defaults, overridden once per process by the values an
// administrator keeps under the registry key "ScsiTimeouts".
#include "QrScsiTimeouts.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QrPlatformInfo.h"

namespace {

// ---- Built-in defaults ---------------------------------------------------------------------

struct ScsiTimeoutEntry {
    unsigned char opcode;
    const char* name;
    int32_t timeout;
};

// Read, and repaired, in this order.
constexpr ScsiTimeoutEntry default_timeout_arr[] = {
    {0x12, "INQUIRY", 60},
    {0x1A, "MODE_SENSE", 2940},
    {0x01, "REWIND", 1800},
    {0x11, "SPACE", 2880},
    {0x0C, "SEEK_BLOCK", 2880},
    {0x16, "RESERVE", 1200},
    {0x1B, "LOAD", 900},
    {0xA5, "MOVE_MEDIUM", 1500},
    {0x08, "READ", 2880},
    {0x0A, "WRITE", 1500},
    {0x10, "WRITE_FILEMARKS", 1620},
    {0x07, "INITIALIZE_ELEMENT_STATUS", 600},
    {0x37, "INITIALIZE_ELEMENT_STATUS_WITH_RANGE", 600},
    {0xE7, "INITIALIZE_ELEMENT_STATUS_WITH_RANGE_E7", 600},
    {0xB8, "READ_ELEMENT_STATUS", 600},
    {0x13, "VERIFY", 86400},
    {0x19, "ERASE", 86400},
};

constexpr char key_name[] = "ScsiTimeouts";
constexpr int32_t min_timeout = 1;
constexpr int32_t max_timeout = 86400;  // one day
constexpr int32_t no_default = -1;      // per-code values: "not stored", never written back
constexpr int value_size = 128;

// ---- Process state -------------------------------------------------------------------------

// Every entry is assigned by the load before any lookup returns.
int32_t cmd_timeout_arr[256];
// Kept across a failed load: a retry passes the value already read as the default.
int32_t default_timeout = 120;

// ---- The value reader ----------------------------------------------------------------------

bool endsNumber(char c) {
    return c == '\0' || std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Reads one value under "ScsiTimeouts" and returns the timeout to use. When the stored text is
// not an in-bound number or the marker of `def`, and `def` is positive, the value is rewritten
// to the marker of `def` -- but only on an installation that has the install entry.
// Numbers are compared at full width, so a value beyond 32 bits cannot wrap into the bounds.
int32_t loadTimeout(QrPlatformInfo& info, const char* name, int32_t min, int32_t max, int32_t def) {
    static int32_t base_present = -1;  // -1: not probed yet; the answer holds for the process

    char buffer[value_size];
    std::memset(buffer, 0, sizeof buffer);
    int size = value_size;
    int32_t result = def;
    bool rewrite = true;

    if (info.getString(key_name, name, buffer, &size) != 0 && buffer[0] != '\0') {
        buffer[value_size - 1] = '\0';
        char* end = nullptr;
        const long v = std::strtol(buffer, &end, 0);
        const bool has_number = end != buffer;
        if (endsNumber(*end)) {
            if (!has_number) {
                // white space only: nothing to use, so the default
            } else if (v < min) {
                result = min;
            } else if (v > max) {
                result = max;
            } else {
                result = static_cast<int32_t>(v);
                rewrite = false;
            }
        } else if (buffer[0] == '*') {
            char* marker_end = nullptr;
            const long m = std::strtol(buffer + 1, &marker_end, 0);
            if (*marker_end == '*' && m == def) {
                rewrite = false;  // the current marker; result is already def
            }
        } else if (has_number && v >= min && v <= max) {
            result = static_cast<int32_t>(v);  // "60abc": the number serves, the text is repaired
        }
    }

    if (rewrite && def > 0) {
        if (base_present < 0) {
            size = value_size;
            base_present = info.getString("Base", "vARURAROD", buffer, &size);
        }
        if (base_present != 0) {
            std::snprintf(buffer, sizeof buffer, "*%d*", def);
            info.setString(key_name, name, buffer, value_size);
        }
    }
    return result;
}

// ---- The load ------------------------------------------------------------------------------

void loadRegistry() {
    QrPlatformInfo info;

    // DEFAULT is read first because the per-code pass falls back to it.
    default_timeout = loadTimeout(info, "DEFAULT", min_timeout, max_timeout, default_timeout);

    char name[16];
    for (int i = 0; i < 256; ++i) {
        std::snprintf(name, sizeof name, "CDB_%02X", i);
        const int32_t t = loadTimeout(info, name, min_timeout, max_timeout, no_default);
        cmd_timeout_arr[i] = t > 0 ? t : default_timeout;
    }

    // A named command's own value wins over its per-code value.
    for (const ScsiTimeoutEntry& row : default_timeout_arr) {
        cmd_timeout_arr[row.opcode] =
            loadTimeout(info, row.name, min_timeout, max_timeout, row.timeout);
    }
}

// The slow path of the first lookups: a function-local static runs its initialiser once, even
// with concurrent first calls, and an initialiser that throws leaves it uninitialised, so the
// next call loads again. Out of line and cold, so the fast path stays a leaf without a frame.
[[gnu::noinline, gnu::cold]] int32_t loadAndLookup(std::atomic<bool>& loaded,
                                                   unsigned char opcode) {
    static const bool once = (loadRegistry(), loaded.store(true, std::memory_order_release), true);
    static_cast<void>(once);
    return cmd_timeout_arr[opcode];
}

}  // namespace

// ---- The lookup ----------------------------------------------------------------------------

int32_t getScsiTimeout(unsigned char opcode) {
    static std::atomic<bool> loaded{false};  // constant-initialised: no guard of its own
    if (__builtin_expect(!loaded.load(std::memory_order_acquire), 0)) {
        return loadAndLookup(loaded, opcode);
    }
    return cmd_timeout_arr[opcode];
}
