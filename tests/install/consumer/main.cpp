// Calls the installed library as a product's caller does. Arguments CODE=SECONDS (numbers in
// any C base) name the timeouts expected; without any, those of an empty registry.
#include <QrScsiTimeouts.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const char* const empty_registry[] = {"0x12=60", "0x42=120"};
    const char* const* expected = argc > 1 ? argv + 1 : empty_registry;
    const int count = argc > 1 ? argc - 1 : 2;
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        const long code = std::strtol(expected[i], &end, 0);
        const long seconds = std::strtol(end + 1, nullptr, 0);
        const int32_t got = getScsiTimeout(static_cast<unsigned char>(code));
        std::printf("0x%02lX %d (expected %ld)\n", code, static_cast<int>(got), seconds);
        wrong += got != seconds;
    }
    return wrong == 0 ? 0 : 1;
}
