// How one stored text becomes a timeout, and when it is repaired. Each row runs in a fresh
// process, once as the value of a named command (INQUIRY, default 60) and once as a per-code
// value (CDB_05, default -1, so the table falls back to DEFAULT).
#include <gtest/gtest.h>

#include <QrScsiTimeouts.h>

#include <optional>
#include <string>

#include "store_helpers.h"

namespace {

struct Row {
    const char* label;
    std::optional<std::string> text;  // nullopt: no value stored
    int32_t named;                    // result with default 60
    bool rewritten;                   // to "*60*"; a per-code value is never rewritten
    int32_t per_code;                 // result with default -1
};

const std::string long_text = std::string(126, ' ') + "60";  // only the first 127 count: " ...6"

const Row rows[] = {
    {"Absent", std::nullopt, 60, true, -1},
    {"Empty", "", 60, true, -1},
    {"Plain", "60", 60, false, 60},
    {"LeadingSpace", "  60", 60, false, 60},
    {"TrailingWord", "60 seconds", 60, false, 60},
    {"TrailingTab", "60\t", 60, false, 60},
    {"Hex", "0x3C", 60, false, 60},
    {"HexUpper", "0X3c", 60, false, 60},
    {"Octal", "074", 60, false, 60},
    {"One", "1", 1, false, 1},
    {"Zero", "0", 1, true, 1},
    {"Negative", "-5", 1, true, 1},
    {"Maximum", "86400", 86400, false, 86400},
    {"AboveMaximum", "86401", 86400, true, 86400},
    {"Beyond32BitsWrapsTo60", "4294967356", 86400, true, 86400},
    {"Below32BitsWrapsTo60", "-4294967236", 1, true, 1},
    {"BeyondLong", "99999999999999999999999", 86400, true, 86400},
    {"CurrentMarker", "*60*", 60, false, -1},
    {"HexMarker", "*0x3C*", 60, false, -1},
    {"MarkerTrailingText", "*60*old", 60, false, -1},
    {"StaleMarker", "*1800*", 60, true, -1},
    {"UnclosedMarker", "*60", 60, true, -1},
    {"MarkerBeyond32Bits", "*4294967356*", 60, true, -1},
    {"PerCodeMarker", "*-1*", 60, true, -1},
    {"NumberThenLetters", "60abc", 60, true, 60},
    {"OneThenLetter", "1x", 1, true, 1},
    {"MaximumThenLetter", "86400x", 86400, true, 86400},
    {"NumberThenAsterisk", "30*", 30, true, 30},
    {"NegativeThenLetter", "-5x", 60, true, -1},
    {"AboveMaximumThenLetter", "99999x", 60, true, -1},
    {"LettersOnly", "soon", 60, true, -1},
    {"WhiteSpaceOnly", "   ", 60, true, -1},
    {"SpaceThenLetters", "  soon", 60, true, -1},
    {"LoneSign", "-", 60, true, -1},
    {"LoneHexPrefix", "0x", 60, true, -1},
    {"Over127Characters", long_text, 6, false, 6},
};

// The store behaves as real ones may: it reports the length it copied through the size, and a
// text that does not fit fills the buffer without a terminator.
class Reader : public ::testing::TestWithParam<Row> {
  protected:
    void SetUp() override {
        st::reset();
        st::reportCopiedSize();
        st::omitNulWhenCut();
        installProbe();
    }
};

TEST_P(Reader, NamedCommand) {
    const Row& row = GetParam();
    st::seed("ScsiTimeouts", "DEFAULT", "*3000*");  // found and stale: the probe follows a read
    if (row.text) {
        st::seed("ScsiTimeouts", "INQUIRY", *row.text);
    }
    EXPECT_EQ(getScsiTimeout(0x12), row.named);
    EXPECT_EQ(st::value("ScsiTimeouts", "INQUIRY"), row.rewritten ? "*60*" : row.text);
    for (const st::StoreCall& c : st::calls()) {
        EXPECT_EQ(c.size, 128) << c.key << "/" << c.name;
    }
}

TEST_P(Reader, PerCodeValue) {
    const Row& row = GetParam();
    st::seed("ScsiTimeouts", "DEFAULT", "4321");  // makes the fallback recognisable
    if (row.text) {
        st::seed("ScsiTimeouts", "CDB_05", *row.text);
    }
    EXPECT_EQ(getScsiTimeout(0x05), row.per_code > 0 ? row.per_code : 4321);
    EXPECT_EQ(st::value("ScsiTimeouts", "CDB_05"), row.text);
    for (const st::StoreCall& c : callsOf(st::StoreCall::Set, "ScsiTimeouts")) {
        EXPECT_NE(c.name, "CDB_05");
    }
}

INSTANTIATE_TEST_SUITE_P(StoredText, Reader, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.label);
                         });

}  // namespace
