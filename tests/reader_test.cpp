// How one stored text becomes a timeout. Each row's text is read from the stand-in store as the
// library reads it, under each way a store may fill the buffer, and then given to the load as
// the value of a named command (INQUIRY, default 60) and of a per-code value (CDB_05, no default,
// so the table falls back to DEFAULT). None of this is process-wide state, so the rows share one
// process; the rewrites themselves, and the install probe, are load_test's.
#include <gtest/gtest.h>

#include <QrPlatformInfo.h>
#include <QrScsiTimeoutsModule.h>

#include <cstring>
#include <optional>
#include <set>
#include <string>

#include "store_helpers.h"

namespace {

namespace qst = qr_scsi_timeouts;

struct Row {
    const char* label;
    std::optional<std::string> text;  // nullopt: no value stored
    int32_t named;                    // result with default 60
    bool rewritten;                   // to "*60*"; a per-code value is never rewritten
    int32_t per_code;                 // result with no default; -1: DEFAULT's
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

// Stores as real ones may be: the platform promises a NUL-terminated text and a non-zero "found",
// and no more.
struct Store {
    const char* label;
    void (*set)();
};

const Store stores[] = {
    {"as promised", [] {}},
    {"copied size, no NUL, found as 2",
     [] {
         st::reportCopiedSize();
         st::omitNulWhenCut();
         st::omitNulWhenShort();
         st::foundReturns(2);
     }},
    {"no NUL after a short text, found as -1",
     [] {
         st::omitNulWhenShort();
         st::foundReturns(-1);
     }},
};

constexpr int32_t stored_default = 4321;  // DEFAULT's, so that the fallback is recognisable

// The load's reader, fed the text that was read: DEFAULT gives stored_default, INQUIRY and
// CDB_05 are decided from the text with what the load passes, every other value is absent.
struct FakeReader {
    const char* text;  // nullptr: not found
    std::set<std::string> rewrites;
};

int32_t readFake(void* context, QrPlatformInfo& /*info*/, const char* name, qst::Bounds bounds,
                 int32_t def) {
    FakeReader& r = *static_cast<FakeReader*>(context);
    if (std::strcmp(name, "DEFAULT") == 0) {
        return stored_default;
    }
    const bool ours = std::strcmp(name, "INQUIRY") == 0 || std::strcmp(name, "CDB_05") == 0;
    const qst::Decision d = qst::decideTimeout(ours ? r.text : nullptr, bounds, def);
    if (ours && d.rewrite) {
        r.rewrites.insert(name);
    }
    return d.timeout;
}

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.label;
}

class StoredText : public ::testing::TestWithParam<Row> {};

TEST_P(StoredText, IsReadAndDecided) {
    const Row& row = GetParam();
    for (const Store& store : stores) {
        SCOPED_TRACE(store.label);
        st::reset();
        store.set();
        st::seed("ScsiTimeouts", "LAST", "86400");
        if (row.text) {
            st::seed("ScsiTimeouts", "INQUIRY", *row.text);
        }
        QrPlatformInfo info;
        char buffer[qst::value_size];
        qst::readValue(info, qst::key_name, "LAST", buffer);  // what the buffer held before
        const bool found = qst::readValue(info, qst::key_name, "INQUIRY", buffer);
        EXPECT_EQ(found, row.text.has_value());
        for (const st::StoreCall& c : st::calls()) {
            EXPECT_EQ(c.size, qst::value_size) << c.name;
        }

        FakeReader reader{found ? buffer : nullptr, {}};
        int32_t table[256];
        qst::loadTable(info, qst::ValueReader{readFake, &reader}, table, nullptr);
        EXPECT_EQ(table[0x12], row.named);
        EXPECT_EQ(table[0x05], row.per_code > 0 ? row.per_code : stored_default);
        EXPECT_EQ(reader.rewrites,
                  row.rewritten ? std::set<std::string>{"INQUIRY"} : std::set<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(Reader, StoredText, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.label);
                         });

}  // namespace
