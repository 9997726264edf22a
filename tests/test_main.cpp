// The main of every test binary. A test binary run on its own inherits the caller's environment,
// and an exported QRLIB_STAND_IN_FILE (as the demo teaches) would have its loads rewrite that
// user's registry file. So the stand-in starts with no file, keeping values in memory only, and a
// test that wants a file names a scratch one itself. For the same reason the audit log of the
// tool's writes goes to a scratch file, never to the system log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    ::unsetenv("QRLIB_STAND_IN_FILE");
    ::testing::InitGoogleTest(&argc, argv);
    const std::string audit =
        ::testing::TempDir() + "scsi-timeouts-audit-" + std::to_string(::getpid()) + ".log";
    ::setenv("QR_SCSI_TIMEOUTS_AUDIT_FILE", audit.c_str(), 1);
    const int status = RUN_ALL_TESTS();
    ::unlink(audit.c_str());
    return status;
}
