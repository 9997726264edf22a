// Runs N full loads (argument, default 100) for an instruction count under callgrind.
#include <cstdlib>

#include "module_copy.h"

int main(int argc, char** argv) {
    const int loads = argc > 1 ? std::atoi(argv[1]) : 100;
    for (int i = 0; i < loads; ++i) {
        freshRegistry();
        loadOnce();
    }
    return 0;
}
