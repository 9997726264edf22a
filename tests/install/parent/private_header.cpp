// The library's internal header, as a parent build might try to include it: this must not compile.
#include <QrScsiTimeoutsModule.h>

int main() {
    return qr_scsi_timeouts::value_size == 128 ? 0 : 1;
}
