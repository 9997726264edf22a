// The one-time load: which values it reads, in what order, what it writes, and the table it
// builds. Each TEST runs its body in a process of its own, so each one sees the first load.
#include <gtest/gtest.h>

#include <QrScsiTimeouts.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fresh_process.h"
#include "store_helpers.h"

namespace {

struct Command {
    const char* name;
    unsigned char opcode;
    int32_t timeout;
};

// The built-in defaults, in the order the load reads them.
const std::vector<Command> commands = {
    {"INQUIRY", 0x12, 60},
    {"MODE_SENSE", 0x1A, 2940},
    {"REWIND", 0x01, 1800},
    {"SPACE", 0x11, 2880},
    {"SEEK_BLOCK", 0x0C, 2880},
    {"RESERVE", 0x16, 1200},
    {"LOAD", 0x1B, 900},
    {"MOVE_MEDIUM", 0xA5, 1500},
    {"READ", 0x08, 2880},
    {"WRITE", 0x0A, 1500},
    {"WRITE_FILEMARKS", 0x10, 1620},
    {"INITIALIZE_ELEMENT_STATUS", 0x07, 600},
    {"INITIALIZE_ELEMENT_STATUS_WITH_RANGE", 0x37, 600},
    {"INITIALIZE_ELEMENT_STATUS_WITH_RANGE_E7", 0xE7, 600},
    {"READ_ELEMENT_STATUS", 0xB8, 600},
    {"VERIFY", 0x13, 86400},
    {"ERASE", 0x19, 86400},
};

std::string marker(int32_t t) {
    return "*" + std::to_string(t) + "*";
}

void expectDefaultTable(int32_t fallback) {
    std::vector<int32_t> expected(256, fallback);
    for (const Command& c : commands) {
        expected[c.opcode] = c.timeout;
    }
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(getScsiTimeout(static_cast<unsigned char>(i)), expected[i]) << "opcode " << i;
    }
}

// The store reports the length it copied through the size, as real ones may: every call must
// still be given the buffer's full 128.
class Load : public ::testing::Test {
  protected:
    void SetUp() override {
        st::reset();
        st::reportCopiedSize();
    }
};

TEST_F(Load, EmptyRegistryWithProbeReadsInOrderAndWritesOnlyMarkers) {
    inFreshProcess([&] {
        installProbe();
        expectDefaultTable(120);

        std::vector<std::string> names = {"DEFAULT"};
        for (int i = 0; i < 256; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "CDB_%02X", i);
            names.push_back(name);
        }
        for (const Command& c : commands) {
            names.push_back(c.name);
        }
        const auto read = callsOf(st::StoreCall::Get, "ScsiTimeouts");
        ASSERT_EQ(read.size(), 274u);
        for (std::size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read[i].name, names[i]);
            EXPECT_EQ(read[i].size, 128);
        }

        // The probe comes once, with the first rewrite (DEFAULT's), and with the same size.
        const auto all = st::calls();
        ASSERT_GE(all.size(), 2u);
        EXPECT_EQ(all[1].key + "/" + all[1].name, "Base/vARURAROD");
        EXPECT_EQ(all[1].size, 128);
        EXPECT_EQ(probes(), 1u);

        const auto written = callsOf(st::StoreCall::Set, "ScsiTimeouts");
        ASSERT_EQ(written.size(), 18u);
        EXPECT_EQ(written[0].name, "DEFAULT");
        EXPECT_EQ(written[0].text, "*120*");
        for (std::size_t i = 0; i < commands.size(); ++i) {
            EXPECT_EQ(written[i + 1].name, commands[i].name);
            EXPECT_EQ(written[i + 1].text, marker(commands[i].timeout));
            EXPECT_EQ(written[i + 1].size, 128);
            EXPECT_EQ(st::value("ScsiTimeouts", commands[i].name), marker(commands[i].timeout));
        }
        EXPECT_EQ(st::value("ScsiTimeouts", "CDB_00"), std::nullopt);
        EXPECT_EQ(st::value("ScsiTimeouts", "CDB_FF"), std::nullopt);
    });
}

TEST_F(Load, EmptyRegistryWithoutProbeLeavesRegistryUntouched) {
    inFreshProcess([&] {
        expectDefaultTable(120);
        EXPECT_EQ(reads(), 274u);
        EXPECT_EQ(probes(), 1u);
        EXPECT_EQ(writes(), 0u);
        EXPECT_EQ(st::value("ScsiTimeouts", "DEFAULT"), std::nullopt);
    });
}

TEST_F(Load, NoProbeWhenEveryValueIsCurrent) {
    inFreshProcess([&] {
        installProbe();
        st::seed("ScsiTimeouts", "DEFAULT", "300");
        for (const Command& c : commands) {
            st::seed("ScsiTimeouts", c.name, marker(c.timeout));
        }
        st::seed("ScsiTimeouts", "CDB_40", "banana");  // per-code values never trigger a rewrite
        expectDefaultTable(300);
        EXPECT_EQ(probes(), 0u);
        EXPECT_EQ(writes(), 0u);
    });
}

TEST_F(Load, PerCodeValuesAndDefaultFillTheTable) {
    inFreshProcess([&] {
        st::seed("ScsiTimeouts", "DEFAULT", "300");
        st::seed("ScsiTimeouts", "CDB_05", "30");
        st::seed("ScsiTimeouts", "CDB_06", "0");
        st::seed("ScsiTimeouts", "CDB_12", "30");  // INQUIRY's own value wins over it
        st::seed("ScsiTimeouts", "CDB_13", "30");
        st::seed("ScsiTimeouts", "VERIFY", "45");
        EXPECT_EQ(getScsiTimeout(0x05), 30);
        EXPECT_EQ(getScsiTimeout(0x06), 1);
        EXPECT_EQ(getScsiTimeout(0x12), 60);
        EXPECT_EQ(getScsiTimeout(0x13), 45);
        EXPECT_EQ(getScsiTimeout(0x00), 300);
        EXPECT_EQ(getScsiTimeout(0xFF), 300);
    });
}

TEST_F(Load, OneRequestThenLaterChangesAreNotSeen) {
    inFreshProcess([&] {
        installProbe();
        st::seed("ScsiTimeouts", "REWIND", "900");
        st::seed("ScsiTimeouts", "LOAD", "0");    // bounded, and repaired to its marker
        st::seed("ScsiTimeouts", "CDB_05", "0");  // bounded, never written
        EXPECT_EQ(getScsiTimeout(0x01), 900);
        EXPECT_EQ(getScsiTimeout(0x1B), 1);
        EXPECT_EQ(getScsiTimeout(0x05), 1);
        EXPECT_EQ(st::value("ScsiTimeouts", "REWIND"), "900");
        EXPECT_EQ(st::value("ScsiTimeouts", "LOAD"), "*900*");
        EXPECT_EQ(st::value("ScsiTimeouts", "CDB_05"), "0");
        EXPECT_EQ(st::value("ScsiTimeouts", "DEFAULT"), "*120*");
        EXPECT_EQ(st::value("ScsiTimeouts", "INQUIRY"), "*60*");
        EXPECT_EQ(st::value("ScsiTimeouts", "MODE_SENSE"), "*2940*");
        EXPECT_EQ(writes(), 17u);

        const std::size_t calls = st::calls().size();
        st::seed("ScsiTimeouts", "INQUIRY", "5");
        st::seed("ScsiTimeouts", "REWIND", "7");
        EXPECT_EQ(getScsiTimeout(0x12), 60);
        EXPECT_EQ(getScsiTimeout(0x01), 900);
        EXPECT_EQ(st::calls().size(), calls);
        EXPECT_EQ(st::constructions(), 1);
        EXPECT_EQ(st::liveObjects(), 0);
    });
}

}  // namespace
