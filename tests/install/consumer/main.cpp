#include <QrScsiTimeouts.h>

#include <cstdio>

int main() {
    const int32_t inquiry = getScsiTimeout(0x12);
    const int32_t other = getScsiTimeout(0x42);
    std::printf("INQUIRY %d, 0x42 %d\n", static_cast<int>(inquiry), static_cast<int>(other));
    return inquiry == 60 && other == 120 ? 0 : 1;
}
