// Runs N full loads (argument, default 100) for an instruction count under callgrind.
#include <cstdio>
#include <cstdlib>

#include "module_copy.h"

int main(int argc, char** argv) {
    long loads = 100;
    if (argc > 1) {
        char* end = nullptr;
        loads = std::strtol(argv[1], &end, 10);
        if (end == argv[1] || *end != '\0' || loads < 1 || loads > 1000000) {
            std::fprintf(stderr, "usage: load_instructions [loads, 1..1000000]\n");
            return 2;
        }
    }
    for (long i = 0; i < loads; ++i) {
        freshRegistry();
        loadOnce();
    }
    return 0;
}
