// A store that throws during the first load: the exception reaches the caller, no store object
// is left alive, and the next call loads again from the start. Each row in a process of its own.
#include <gtest/gtest.h>

#include <QrScsiTimeouts.h>

#include <stdexcept>

#include "fresh_process.h"
#include "store_helpers.h"

namespace {

struct Failure {
    const char* label;
    int construction_failures;
    int failing_call;          // counting store calls from 1; 0: none
    const char* default_text;  // DEFAULT's stored text; nullptr: none
};

// Empty registry with the probe present: call 1 reads DEFAULT, 2 is the probe, 3 writes
// DEFAULT's marker, 4..259 read the per-code values, 260 reads INQUIRY, 261 writes its marker.
// A DEFAULT that is bounded (0 gives 1) must not carry its bounded value into the retry's marker.
const Failure failures[] = {
    {"Constructor", 1, 0, nullptr},
    {"PerCodeRead", 0, 100, nullptr},
    {"Probe", 0, 2, nullptr},
    {"DefaultWrite", 0, 3, nullptr},
    {"NamedWrite", 0, 261, nullptr},
    {"PerCodeReadAfterZeroDefault", 0, 100, "0"},
    {"NamedWriteAfterHugeDefault", 0, 261, "100000"},
};

class FailedLoad : public ::testing::TestWithParam<Failure> {};

TEST_P(FailedLoad, ReachesCallerAndNextCallLoadsAgain) {
    inFreshProcess([&] {
        const Failure& f = GetParam();
        st::reset();
        installProbe();
        if (f.default_text != nullptr) {
            st::seed("ScsiTimeouts", "DEFAULT", f.default_text);
        }
        st::failConstruction(f.construction_failures);
        st::failStoreCall(f.failing_call);

        EXPECT_THROW(getScsiTimeout(0x12), std::runtime_error);
        EXPECT_EQ(st::liveObjects(), 0);
        EXPECT_EQ(st::constructions(), f.construction_failures > 0 ? 0 : 1);
        const std::size_t reads_before = reads();

        // Still unloaded: the retry reads everything again and sees the registry as it is now.
        st::seed("ScsiTimeouts", "INQUIRY", "77");
        EXPECT_EQ(getScsiTimeout(0x12), 77);
        EXPECT_EQ(getScsiTimeout(0x00), 120);
        EXPECT_EQ(st::value("ScsiTimeouts", "DEFAULT"), "*120*");
        EXPECT_EQ(reads() - reads_before, 274u);
        EXPECT_EQ(st::liveObjects(), 0);
        // The probe is made again only when the first one did not return.
        EXPECT_EQ(probes(), f.failing_call == 2 ? 2u : 1u);
    });
}

INSTANTIATE_TEST_SUITE_P(StoreThrows, FailedLoad, ::testing::ValuesIn(failures),
                         [](const ::testing::TestParamInfo<Failure>& info) {
                             return std::string(info.param.label);
                         });

}  // namespace
