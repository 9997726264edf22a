// Feeds arbitrary bytes to NAME resolution and its messages: no crash, no sanitizer report, a
// name that resolves means a value the load reads, and a message never carries a control byte.
#include <QrPlatformInfo.h>
#include <terminal_text.h>
#include <value_names.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"

// Resolving a name touches no store: every store call traps.
QrPlatformInfo::QrPlatformInfo() : impl_(nullptr) {}
QrPlatformInfo::~QrPlatformInfo() {}  // out of line, as the platform declares it
int QrPlatformInfo::getString(const char* /*key*/, const char* /*name*/, char* /*buffer*/,
                              int* /*size*/) {
    static_cast<void>(impl_);
    __builtin_trap();
}
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the platform's signature
int QrPlatformInfo::setString(const char* /*key*/, const char* /*name*/, const char* /*text*/,
                              int /*size*/) {
    static_cast<void>(impl_);
    __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > 4096) {
        return -1;
    }
    namespace tool = scsi_timeouts_tool;
    const std::string text(reinterpret_cast<const char*>(data), size);  // cut at a NUL, as argv is
    const tool::ValueName v = tool::resolveName(text.c_str());
    const std::string message = tool::nameErrorText(text.c_str(), v) + tool::kernelNote(v);
    for (const char c : message) {
        check(!tool::unsafeByte(static_cast<unsigned char>(c)));
    }
    check(v.match_count >= 0 && v.match_count <= 3);
    if (v.error == tool::NameError::None) {
        check(message.empty() || v.kernel != nullptr);
        check(v.opcode >= -1 && v.opcode <= 255);
        const bool per_code = std::strncmp(v.value, "CDB_", 4) == 0;
        check(v.opcode < 0
                  ? std::strcmp(v.value, "DEFAULT") == 0
                  : std::strcmp(v.value,
                                tool::decidingValue(static_cast<unsigned char>(v.opcode)).value) ==
                        0);
        check(per_code == (v.def == qr_scsi_timeouts::no_default));
    } else {
        check(!message.empty());
    }
    return 0;
}
