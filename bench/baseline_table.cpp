#include "baseline_table.h"

namespace {
int32_t table[256];
}

int32_t baselineLookup(unsigned char opcode) {
    return table[opcode];
}

void baselineFill(int32_t value) {
    for (int32_t& t : table) {
        t = value;
    }
}
