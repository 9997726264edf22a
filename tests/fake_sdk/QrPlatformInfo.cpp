// A fixed registry behind a QrPlatformInfo far larger than the stand-in's. Damage to the object
// between calls ends the process; a caller that made room for a smaller object is overrun by
// the constructor.
#include "QrPlatformInfo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Value {
    const char* key;
    const char* name;
    const char* text;
};

// No install entry ("Base"/"vARURAROD"), so the product never writes.
constexpr Value registry[] = {
    {"ScsiTimeouts", "DEFAULT", "300"},
    {"ScsiTimeouts", "CDB_42", "33"},
    {"ScsiTimeouts", "INQUIRY", "45"},
    {"ScsiTimeouts", "REWIND", "*1800*"},
};

// Depends on the object's address, so a stale or moved copy fails too.
unsigned char pattern(const void* self, std::size_t i) {
    return static_cast<unsigned char>((reinterpret_cast<std::uintptr_t>(self) >> 4) + i * 7);
}

std::uint64_t guard(const void* self) {
    return reinterpret_cast<std::uintptr_t>(self) ^ 0x51A7F00DC0FFEE11u;
}

}  // namespace

QrPlatformInfo::QrPlatformInfo() : front_(guard(this)), back_(guard(this)) {
    for (std::size_t i = 0; i < sizeof state_; ++i) {
        state_[i] = pattern(this, i);
    }
}

QrPlatformInfo::~QrPlatformInfo() {
    checkLayout("~QrPlatformInfo");
}

void QrPlatformInfo::checkLayout(const char* call) const {
    bool intact = front_ == guard(this) && back_ == guard(this);
    for (std::size_t i = 0; intact && i < sizeof state_; ++i) {
        intact = state_[i] == pattern(this, i);
    }
    if (!intact) {
        std::fprintf(stderr, "fake QrLib: QrPlatformInfo damaged at %s\n", call);
        std::abort();
    }
}

// The platform's signature: the size is the buffer's, and the platform's own may update it.
// NOLINTNEXTLINE(readability-non-const-parameter)
int QrPlatformInfo::getString(const char* key, const char* name, char* buffer, int* size) {
    checkLayout("getString");
    for (const Value& v : registry) {
        if (std::strcmp(v.key, key) == 0 && std::strcmp(v.name, name) == 0) {
            if (*size > 0) {
                std::snprintf(buffer, static_cast<std::size_t>(*size), "%s", v.text);
            }
            return 1;
        }
    }
    return 0;
}

int QrPlatformInfo::setString(const char* /*key*/, const char* /*name*/, const char* /*text*/,
                              int /*size*/) {
    checkLayout("setString");
    return 1;
}
