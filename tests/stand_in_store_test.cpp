// The stand-in store's file: loaded at construction, saved after every write, editable by hand.
#include <gtest/gtest.h>

#include <QrPlatformInfo.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "store_helpers.h"

TEST(StandInStore, FilePersistsWritesAndHandEdits) {
    const std::string path = ::testing::TempDir() + "stand_in_store_test.ini";
    std::remove(path.c_str());
    ::setenv("QRLIB_STAND_IN_FILE", path.c_str(), 1);
    st::reset();

    char buffer[8];
    int size = sizeof buffer;
    {
        QrPlatformInfo info;
        EXPECT_EQ(info.getString("ScsiTimeouts", "REWIND", buffer, &size), 0);
        info.setString("ScsiTimeouts", "REWIND", "*1800*", 128);
    }
    st::reset();  // forget the memory: only the file remains
    {
        std::ofstream edit(path, std::ios::app);
        edit << "[ScsiTimeouts]\nLOAD= 900 seconds\n";
    }
    QrPlatformInfo info;
    ASSERT_NE(info.getString("ScsiTimeouts", "REWIND", buffer, &size), 0);
    EXPECT_STREQ(buffer, "*1800*");
    ASSERT_NE(info.getString("ScsiTimeouts", "LOAD", buffer, &size), 0);
    EXPECT_STREQ(buffer, " 900 se");  // white space kept, cut to fit the buffer
    ::unsetenv("QRLIB_STAND_IN_FILE");
}
