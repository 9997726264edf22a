// What a fuzz target asserts: a broken promise stops the fuzzer with the input that broke it.
#pragma once

inline void check(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}
