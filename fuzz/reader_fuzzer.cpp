// Feeds arbitrary bytes to the value reader as a stored text, for a positive default and for
// the per-code default -1. The module's source is compiled in, so that the private reader can be
// called directly without the shipped library exporting anything more.
#include "QrScsiTimeouts.cpp"  // NOLINT(bugprone-suspicious-include): the private reader

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"

namespace {

struct FuzzStore {
    const uint8_t* input = nullptr;
    std::size_t input_size = 0;
    int write_count = 0;
    std::string written_key, written_name, written_text;
    int written_size = 0;
} fuzz_store;

}  // namespace

// A store that holds the fuzz input as every value, and the install entry.
QrPlatformInfo::QrPlatformInfo() : impl_(&fuzz_store) {}
QrPlatformInfo::~QrPlatformInfo() {}  // out of line, as the platform declares it

int QrPlatformInfo::getString(const char* key, const char* /*name*/, char* buffer, int* size) {
    const FuzzStore& s = *static_cast<FuzzStore*>(impl_);
    if (std::strcmp(key, "Base") == 0) {
        return 1;
    }
    // The raw bytes, cut to fit but not NUL-terminated: the reader must end the text itself.
    const std::size_t n = std::min(s.input_size, static_cast<std::size_t>(*size));
    std::memcpy(buffer, s.input, n);
    return 1;
}

// The platform's signature.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
int QrPlatformInfo::setString(const char* key, const char* name, const char* text, int size) {
    FuzzStore& s = *static_cast<FuzzStore*>(impl_);
    ++s.write_count;
    s.written_key = key;
    s.written_name = name;
    s.written_text.assign(text, strnlen(text, static_cast<std::size_t>(size)));
    s.written_size = size;
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > 300) {
        return -1;
    }
    FuzzStore& s = fuzz_store;
    s.input = data;
    s.input_size = size;
    QrPlatformInfo info;
    for (const int32_t def : {60, -1}) {
        s.write_count = 0;
        const int32_t t = qr_scsi_timeouts::loadTimeout(nullptr, info, "INQUIRY", {1, 86400}, def);
        check((t >= 1 && t <= 86400) || (def < 0 && t == def));
        check(s.write_count <= (def > 0 ? 1 : 0));
        if (s.write_count == 1) {
            check(s.written_key == "ScsiTimeouts" && s.written_name == "INQUIRY");
            check(s.written_text == "*60*" && s.written_size == 128);
        }
    }
    return 0;
}
