// The physical limit of this interface: a guard-less array read behind a call into a second
// shared library, bound the same way as getScsiTimeout.
#pragma once

#include <cstdint>

__attribute__((visibility("default"))) int32_t baselineLookup(unsigned char opcode);
__attribute__((visibility("default"))) void baselineFill(int32_t value);
