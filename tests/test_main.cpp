// The main of every test binary. A test binary run on its own inherits the caller's environment,
// and an exported QRLIB_STAND_IN_FILE (as the demo teaches) would have its loads rewrite that
// user's registry file. So the stand-in starts with no file, keeping values in memory only, and a
// test that wants a file names a scratch one itself.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::unsetenv("QRLIB_STAND_IN_FILE");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
