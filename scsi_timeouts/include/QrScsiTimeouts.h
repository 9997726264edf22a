// How long to wait for a SCSI command.
//
// getScsiTimeout() returns the timeout, in whole seconds, for the command whose operation code
// (the first byte of its command descriptor block) is `opcode`. The result always lies within
// 1..86400. The first call in a process builds the table from built-in defaults and the registry
// key "ScsiTimeouts"; every later call is a plain table read, safe from any number of threads.
//
// The first call may throw whatever the platform library's configuration store throws; the
// library then stays unloaded and the next call loads again.
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define QR_SCSI_TIMEOUTS_API __attribute__((visibility("default")))
#else
#define QR_SCSI_TIMEOUTS_API
#endif

// C++ linkage on purpose: callers bind to the mangled name _Z14getScsiTimeouth.
QR_SCSI_TIMEOUTS_API int32_t getScsiTimeout(unsigned char opcode);
