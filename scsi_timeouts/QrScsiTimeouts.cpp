// The SCSI timeout table: built-in defaults, overridden once per process by the values an
// administrator keeps under the registry key "ScsiTimeouts".
#include "QrScsiTimeouts.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QrPlatformInfo.h"
#include "QrScsiTimeoutsModule.h"

namespace qr_scsi_timeouts {

// ---- Built-in defaults ---------------------------------------------------------------------

const ScsiTimeoutEntry default_timeout_arr[named_count] = {
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

const char key_name[] = "ScsiTimeouts";
const char install_key[] = "Base";
const char install_name[] = "vARURAROD";

namespace {

// ---- Process state -------------------------------------------------------------------------

// Every entry is assigned by the load before any lookup returns.
int32_t cmd_timeout_arr[256];

// ---- The value reader ----------------------------------------------------------------------

bool endsNumber(char c) {
    return c == '\0' || std::isspace(static_cast<unsigned char>(c)) != 0;
}

// "*<number>*" is the marker of the number; only the marker of the current default stands.
Verdict markerVerdict(const char* text, int32_t def) {
    char* end = nullptr;
    const long m = std::strtol(text + 1, &end, 0);
    if (end == text + 1) {
        return Verdict::NotANumber;
    }
    if (*end != '*') {
        return Verdict::UnclosedMarker;
    }
    return m == def ? Verdict::Clean : Verdict::StaleMarker;
}

}  // namespace

// Numbers are compared at full width, so a value beyond 32 bits cannot wrap into the bounds.
// Text with no usable number gives the default, so no timeout leaves the bounds.
Decision decideTimeout(const char* text, Bounds bounds, int32_t def) {
    Decision d{def, false, Verdict::Absent, 0};
    if (text != nullptr && text[0] == '\0') {
        d.verdict = Verdict::Empty;
    } else if (text != nullptr) {
        char* end = nullptr;
        const long v = std::strtol(text, &end, 0);
        d.number_end = static_cast<int>(end - text);
        const bool has_number = end != text;
        if (endsNumber(*end) && has_number) {  // white space ends a number: "900 seconds" is 900
            d.verdict = v < bounds.min   ? Verdict::BelowMinimum
                        : v > bounds.max ? Verdict::AboveMaximum
                                         : Verdict::Clean;
            d.timeout = static_cast<int32_t>(std::clamp<long>(v, bounds.min, bounds.max));
        } else if (endsNumber(*end)) {
            d.verdict = Verdict::NotANumber;
        } else if (text[0] == '*') {
            d.verdict = markerVerdict(text, def);
        } else {
            d.verdict = has_number ? Verdict::TrailingText : Verdict::NotANumber;
            if (has_number && v >= bounds.min && v <= bounds.max) {
                d.timeout = static_cast<int32_t>(v);  // "60abc": the number serves until repaired
            }
        }
    }
    // A per-code value's default is no timeout, so there is nothing to write back.
    d.rewrite = d.verdict != Verdict::Clean && def > 0;
    return d;
}

bool readValue(QrPlatformInfo& info, const char* key, const char* name, char* buffer) {
    std::memset(buffer, 0, value_size);
    int size = value_size;  // a store may write back what it copied: fresh for every call
    const bool found = info.getString(key, name, buffer, &size) != 0;
    buffer[value_size - 1] = '\0';  // a store may fill the buffer without a terminator
    return found;
}

bool probeInstallEntry(QrPlatformInfo& info, char* buffer) {
    return readValue(info, install_key, install_name, buffer);
}

void formatMarker(char* buffer, int32_t def) {
    std::snprintf(buffer, value_size, "*%d*", static_cast<int>(def));
}

namespace {

// Reads one value under "ScsiTimeouts" and returns the timeout to use; repairs the value to the
// marker of `def` when it is due -- but only on an installation that has the install entry.
int32_t loadTimeout(void* /*context*/, QrPlatformInfo& info, const char* name, Bounds bounds,
                    int32_t def) {
    static int32_t base_present = -1;  // -1: not probed yet; the answer holds for the process

    char buffer[value_size];
    const bool found = readValue(info, key_name, name, buffer);
    const Decision d = decideTimeout(found ? buffer : nullptr, bounds, def);
    if (d.rewrite) {
        if (base_present < 0) {
            base_present = probeInstallEntry(info, buffer) ? 1 : 0;
        }
        if (repairs(d, base_present != 0)) {
            formatMarker(buffer, def);
            info.setString(key_name, name, buffer, value_size);
        }
    }
    return d.timeout;
}

}  // namespace

// ---- The load ------------------------------------------------------------------------------

void loadTable(QrPlatformInfo& info, const ValueReader& reader, int32_t table[256],
               ValuePosition decided_by[256]) {
    ValuePosition position = default_position;
    // DEFAULT is read first because the per-code pass falls back to it. Its default is always
    // the built-in one, so a load retried after a failure writes the same marker as a first.
    const int32_t default_timeout =
        reader.read(reader.context, info, "DEFAULT", timeout_bounds, builtin_default_timeout);

    char name[16];
    for (int i = 0; i < 256; ++i) {
        std::snprintf(name, sizeof name, "CDB_%02X", i);
        const int32_t t = reader.read(reader.context, info, name, timeout_bounds, no_default);
        ++position;
        table[i] = t > 0 ? t : default_timeout;
        if (decided_by != nullptr) {
            decided_by[i] = t > 0 ? position : default_position;
        }
    }

    // A named command's own value wins over its per-code value.
    for (const ScsiTimeoutEntry& row : default_timeout_arr) {
        table[row.opcode] =
            reader.read(reader.context, info, row.name, timeout_bounds, row.timeout);
        ++position;
        if (decided_by != nullptr) {
            decided_by[row.opcode] = position;
        }
    }
}

namespace {

void loadRegistry() {
    QrPlatformInfo info;
    loadTable(info, ValueReader{loadTimeout, nullptr}, cmd_timeout_arr, nullptr);
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
}  // namespace qr_scsi_timeouts

// ---- The lookup ----------------------------------------------------------------------------

int32_t getScsiTimeout(unsigned char opcode) {
    static std::atomic<bool> loaded{false};  // constant-initialised: no guard of its own
    if (__builtin_expect(!loaded.load(std::memory_order_acquire), 0)) {
        return qr_scsi_timeouts::loadAndLookup(loaded, opcode);
    }
    return qr_scsi_timeouts::cmd_timeout_arr[opcode];
}
