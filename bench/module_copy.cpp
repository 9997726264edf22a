#include "module_copy.h"

#include <QrLibControl.h>

// Renamed, so this copy's lookup cannot interpose on the shared library's.
#define getScsiTimeout moduleCopyGetScsiTimeout
#include "QrScsiTimeouts.cpp"  // NOLINT(bugprone-suspicious-include): the module itself
#undef getScsiTimeout

void freshRegistry() {
    qrlib_stand_in::reset();
    qrlib_stand_in::seed("Base", "vARURAROD", "1");
}

// The install probe's answer is kept for the process, so only the first load probes.
void loadOnce() {
    qr_scsi_timeouts::loadRegistry();
}
