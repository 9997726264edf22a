// What scsi-timeouts accepts as a value's name and as a duration, and the command names it shows.
#include <gtest/gtest.h>

#include <duration.h>
#include <scsi_commands.h>
#include <value_names.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

namespace tool = scsi_timeouts_tool;
namespace qst = qr_scsi_timeouts;
using tool::DurationError;
using tool::NameError;

std::string matchesOf(const tool::ValueName& v) {
    std::string out;
    for (int i = 0; i < v.match_count; ++i) {
        out += (i == 0 ? "" : "|") + std::string(v.matches[i].spelled) + "=" + v.matches[i].value;
    }
    return out;
}

struct NameRow {
    const char* text;
    NameError error;
    const char* value;  // what it resolves to, or the named value that wins
    int opcode;
    const char* matches;  // spelled=value|...
};

const NameRow name_rows[] = {
    {"DEFAULT", NameError::None, "DEFAULT", -1, ""},
    {"default", NameError::None, "DEFAULT", -1, ""},
    {"rewind", NameError::None, "REWIND", 0x01, ""},
    {"Mode_Sense", NameError::None, "MODE_SENSE", 0x1A, ""},
    {"initialize_element_status_with_range_e7", NameError::None,
     "INITIALIZE_ELEMENT_STATUS_WITH_RANGE_E7", 0xE7, ""},
    {"CDB_92", NameError::None, "CDB_92", 0x92, ""},
    {"cdb_9a", NameError::None, "CDB_9A", 0x9A, ""},
    {"CDB-9A", NameError::None, "CDB_9A", 0x9A, ""},
    {"CDB_5", NameError::None, "CDB_05", 0x05, ""},
    {"0x92", NameError::None, "CDB_92", 0x92, ""},
    {"0X8c", NameError::None, "CDB_8C", 0x8C, ""},
    {" 0x0092 ", NameError::None, "CDB_92", 0x92, ""},
    {"0x12", NameError::None, "INQUIRY", 0x12, ""},
    {"146", NameError::None, "CDB_92", 0x92, ""},
    {"0", NameError::None, "CDB_00", 0x00, ""},
    {"7", NameError::None, "INITIALIZE_ELEMENT_STATUS", 0x07, ""},
    {"255", NameError::None, "CDB_FF", 0xFF, ""},
    {"007", NameError::None, "INITIALIZE_ELEMENT_STATUS", 0x07, ""},
    {"09", NameError::None, "CDB_09", 0x09, ""},
    {"Lock/unlock cache(16)", NameError::None, "CDB_92", 0x92, ""},
    {"Seek(10)", NameError::None, "CDB_2B", 0x2B, ""},
    {"Prefetch/Read Position", NameError::None, "CDB_34", 0x34, ""},
    {"Move medium/play audio(12)", NameError::None, "MOVE_MEDIUM", 0xA5, ""},
    {"Read attributes", NameError::None, "CDB_8C", 0x8C, ""},
    {"verify", NameError::None, "VERIFY", 0x13, ""},
    {"Write Filemarks", NameError::None, "WRITE_FILEMARKS", 0x10, ""},
    {"LOCATE(16)", NameError::None, "CDB_92", 0x92, ""},
    {"locate16", NameError::None, "CDB_92", 0x92, ""},
    {"Locate (16)", NameError::None, "CDB_92", 0x92, ""},
    {"read attribute", NameError::None, "CDB_8C", 0x8C, ""},
    {"position to element", NameError::None, "CDB_2B", 0x2B, ""},
    {"Open/Close Import/Export Element", NameError::None, "LOAD", 0x1B, ""},
    {"MODE SENSE(10)", NameError::None, "CDB_5A", 0x5A, ""},
    {"read", NameError::None, "READ", 0x08, ""},
    {"read buffer", NameError::None, "CDB_3C", 0x3C, ""},
    // Refused.
    {"CDB_12", NameError::NamedDecides, "INQUIRY", 0x12, ""},
    {"cdb_e7", NameError::NamedDecides, "INITIALIZE_ELEMENT_STATUS_WITH_RANGE_E7", 0xE7, ""},
    {"256", NameError::NotAnOpcode, "", -1, ""},
    {"0x100", NameError::NotAnOpcode, "", -1, ""},
    {"99999999999999999999999", NameError::NotAnOpcode, "", -1, ""},
    {"18", NameError::HexOrDecimal, "", 18, ""},
    {"92", NameError::HexOrDecimal, "", 92, ""},
    {"092", NameError::HexOrDecimal, "", 92, ""},
    {"010", NameError::HexOrDecimal, "", 10, ""},
    {"8c", NameError::BareHexByte, "", 0x8C, ""},
    {"B8", NameError::BareHexByte, "", 0xB8, ""},
    {"0146", NameError::OctalOrDecimal, "", 146, ""},
    {"release", NameError::Ambiguous, "", -1, "RELEASE(6)=CDB_17|RELEASE(10)=CDB_57"},
    {"", NameError::Empty, "", -1, ""},
    {" () ", NameError::Empty, "", -1, ""},
    {"locate", NameError::Ambiguous, "", -1, "LOCATE(10)=CDB_2B|LOCATE(16)=CDB_92"},
    {"mode select", NameError::Ambiguous, "", -1, "MODE SELECT(6)=CDB_15|MODE SELECT(10)=CDB_55"},
    {"rewnid", NameError::Unknown, "", -1, "REWIND=REWIND"},
    {"defualt", NameError::Unknown, "", -1, "DEFAULT=DEFAULT"},
    {"Read attribtes", NameError::Unknown, "", -1, "Read attributes=CDB_8C"},
    {"locat", NameError::Unknown, "", -1, "LOCATE(10)=CDB_2B|LOCATE(16)=CDB_92"},
    {"read(12)", NameError::Unknown, "", -1, "READ(16)=CDB_88|READ=READ"},
    {"xyzzy", NameError::Unknown, "", -1, ""},
    {"0x", NameError::Unknown, "", -1, ""},
    {"CDB_1G", NameError::Unknown, "", -1, ""},
};

TEST(AdminToolNames, ResolvesEachFormAndRefusesTheRest) {
    for (const NameRow& row : name_rows) {
        const tool::ValueName v = tool::resolveName(row.text);
        EXPECT_EQ(v.error, row.error) << row.text;
        EXPECT_STREQ(v.value, row.value) << row.text;
        EXPECT_EQ(v.opcode, row.opcode) << row.text;
        EXPECT_EQ(matchesOf(v), row.matches) << row.text;
        EXPECT_EQ(tool::nameErrorText(row.text, v).empty(), row.error == NameError::None)
            << row.text;
    }
    // As long as one argument may be: refused without a close match, as no listed name is near.
    const std::string long_text(std::size_t{128} * 1024, 'x');
    EXPECT_EQ(tool::resolveName(long_text.c_str()).match_count, 0);
}

TEST(AdminToolNames, EveryListedNameMeansTheValueThatDecidesItsCode) {
    for (const qst::ScsiTimeoutEntry& e : qst::default_timeout_arr) {
        const tool::ValueName v = tool::resolveName(e.name);
        EXPECT_STREQ(v.value, e.name);
        EXPECT_EQ(v.opcode, e.opcode) << e.name;
        EXPECT_EQ(v.def, e.timeout) << e.name;
    }
    EXPECT_EQ(tool::resolveName("DEFAULT").def, qst::builtin_default_timeout);
    EXPECT_EQ(tool::resolveName("CDB_92").def, qst::no_default);
    for (const tool::CommandName& c : tool::command_names) {
        const tool::ValueName v = tool::resolveName(c.name);
        EXPECT_EQ(v.error, NameError::None) << c.name;
        EXPECT_STREQ(v.value, tool::decidingValue(c.opcode).value) << c.name;
        EXPECT_EQ(v.kernel, nullptr) << c.name;
    }
    for (const tool::KernelName& k : tool::kernel_names) {
        const tool::ValueName v = tool::resolveName(k.name);
        EXPECT_EQ(v.error, NameError::None) << k.name;
        EXPECT_EQ(v.opcode, k.opcode) << k.name;
        EXPECT_EQ(v.kernel, &k) << k.name;
    }
}

TEST(AdminToolNames, RefusalsSayWhy) {
    const struct {
        const char* text;
        const char* says;
    } rows[] = {
        {"CDB_12", "INQUIRY decides 0x12"},
        {"0146", "write 146 for decimal, or 0x66"},
        {"92", "92: write 0x92 for the byte the kernel prints, or 0x5C for decimal 92"},
        {"000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000000000000000000000000000000000000010",
         "write 0x10 for the byte the kernel prints, or 0x0A for decimal 10"},
        {"b8", "\"b8\": write 0xB8 for the byte the kernel prints"},
        {"xyz\x9B", "unknown name \"xyz\\x9B\""},
        {"Read attribtes", "close matches: Read attributes (CDB_8C)"},
        {"locate", "LOCATE(10) (CDB_2B), LOCATE(16) (CDB_92)"},
        {"300", "not an operation code"},
    };
    for (const auto& row : rows) {
        const std::string text = tool::nameErrorText(row.text, tool::resolveName(row.text));
        EXPECT_NE(text.find(row.says), std::string::npos) << text;
    }
    EXPECT_EQ(tool::kernelNote(tool::resolveName("lock/unlock cache (16)")),
              "0x92 (the kernel's \"Lock/unlock cache(16)\") is LOCATE(16) on tape drives");
    EXPECT_EQ(tool::kernelNote(tool::resolveName("LOCATE(16)")), "");
}

TEST(AdminToolNames, CommandNamesOfCodes) {
    const struct {
        unsigned char opcode;
        const char* joined;  // nullptr: no name
    } rows[] = {
        {0x00, "TEST UNIT READY"},
        {0x34, "READ POSITION"},
        {0x2B, "LOCATE(10) / POSITION TO ELEMENT"},
        {0x1B, "LOAD UNLOAD / OPEN/CLOSE IMPORT/EXPORT ELEMENT"},
        {0x4D, "LOG SENSE"},
        {0x88, "READ(16)"},
        {0x8C, "READ ATTRIBUTE"},
        {0x92, "LOCATE(16)"},
        {0xA5, "MOVE MEDIUM"},
        {0xB8, "READ ELEMENT STATUS"},
        {0x0C, nullptr},
        {0xE7, nullptr},
        {0xFF, nullptr},
    };
    for (const auto& row : rows) {
        const char* name = tool::commandName(row.opcode);
        EXPECT_EQ(name == nullptr, row.joined == nullptr) << int{row.opcode};
        if (name != nullptr && row.joined != nullptr) {
            EXPECT_STREQ(name, row.joined);
        }
    }
}

TEST(AdminToolNames, Misspellings) {
    const struct {
        const char* name;
        std::vector<std::string> variants;
    } rows[] = {
        {"REWIND", {"rewind", "Rewind"}},
        {"DEFAULT", {"default", "Default"}},
        {"CDB_9A", {"cdb_9a", "Cdb_9a", "cdb_9A", "CDB_9a"}},
        {"CDB_92", {"cdb_92", "Cdb_92"}},
        {"CDB_05", {"cdb_05", "Cdb_05", "CDB_5"}},
        {"CDB_0A", {"cdb_0a", "Cdb_0a", "cdb_0A", "CDB_0a", "CDB_A", "CDB_a"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(tool::misspellings(row.name), row.variants) << row.name;
    }
}

struct DurationRow {
    const char* text;
    DurationError error;
    int32_t seconds;
    const char* says;  // the trap, as the message names it
};

const DurationRow duration_rows[] = {
    {"900", DurationError::None, 900, nullptr},
    {"0900", DurationError::None, 900, nullptr},
    {"000000000000000000000000000900", DurationError::None, 900, nullptr},
    {"1", DurationError::None, 1, nullptr},
    {"86400", DurationError::None, 86400, nullptr},
    {"90s", DurationError::None, 90, nullptr},
    {"15m", DurationError::None, 900, nullptr},
    {"1h30m", DurationError::None, 5400, nullptr},
    {"1m30s", DurationError::None, 90, nullptr},
    {"1h0m1s", DurationError::None, 3601, nullptr},
    {"24h", DurationError::None, 86400, nullptr},
    {"1d", DurationError::None, 86400, nullptr},
    {"1 800", DurationError::WhiteSpace, 0, "reads \"1 800\" as 1; write 1800 or 30m"},
    {"15 m", DurationError::WhiteSpace, 0, "reads \"15 m\" as 15; write 900 or 15m"},
    {" 900", DurationError::WhiteSpace, 0, "white space"},
    {"1h 30m", DurationError::WhiteSpace, 0, "reads \"1h 30m\" as 1; write 5400 or 1h30m"},
    {"1 d 1s", DurationError::WhiteSpace, 0, "write whole seconds or units"},
    {"1,800", DurationError::GroupingOrDecimal, 0, "reads \"1,800\" as 1; write 1800 or 30m"},
    {"1,8", DurationError::GroupingOrDecimal, 0, "reads \"1,8\" as 1; write whole seconds or"},
    {"1_000_000", DurationError::GroupingOrDecimal, 0, "write whole seconds or units"},
    {"1.5", DurationError::GroupingOrDecimal, 0, "grouping or a decimal point"},
    {"1_800", DurationError::GroupingOrDecimal, 0, "grouping"},
    {"1e2", DurationError::Exponent, 0, "exponent"},
    {"1E+2", DurationError::Exponent, 0, "exponent"},
    {"+900", DurationError::Sign, 0, "sign"},
    {"-5", DurationError::Sign, 0, "sign"},
    {"1h-5m", DurationError::Sign, 0, "sign"},
    {"5-3", DurationError::Sign, 0, "sign"},
    {"0", DurationError::Zero, 0, "zero"},
    {"00s", DurationError::Zero, 0, "zero"},
    {"86401", DurationError::AboveOneDay, 0, "above one day"},
    {"1d1s", DurationError::AboveOneDay, 0, "above one day"},
    {"4294967297", DurationError::AboveOneDay, 0, "above one day"},
    {"99999999999999999999999999", DurationError::AboveOneDay, 0, "above one day"},
    {"99999999999999999999d", DurationError::AboveOneDay, 0, "above one day"},
    {"", DurationError::NoNumber, 0, "no number"},
    {"m", DurationError::NoNumber, 0, "no number"},
    {"h30", DurationError::NoNumber, 0, "no number"},
    {"0x384", DurationError::NotDecimal, 0, "decimal"},
    {"15min", DurationError::UnknownUnit, 0, "unit"},
    {"2H", DurationError::UnknownUnit, 0, "unit"},
    {"1e", DurationError::UnknownUnit, 0, "unit"},
    {"1h30", DurationError::MissingUnit, 0, "unit"},
    {"30m1h", DurationError::UnitOrder, 0, "order"},
    {"1m1m", DurationError::UnitOrder, 0, "order"},
    {"1:30", DurationError::OtherText, 0, "not a duration"},
};

TEST(AdminToolNames, Durations) {
    for (const DurationRow& row : duration_rows) {
        const tool::Duration d = tool::parseDuration(row.text);
        EXPECT_EQ(d.error, row.error) << '"' << row.text << '"';
        EXPECT_EQ(d.seconds, row.seconds) << '"' << row.text << '"';
        const std::string text = tool::durationErrorText(d.error, row.text);
        EXPECT_EQ(text.empty(), row.says == nullptr) << row.text;
        if (row.says != nullptr) {
            EXPECT_NE(text.find(row.says), std::string::npos) << row.text << ": " << text;
        }
    }
}

TEST(AdminToolNames, StoredNumbersWithUnits) {
    const struct {
        const char* stored;
        const char* unit;  // nullptr: none
    } rows[] = {
        {"30m", "m"},         {"2h", "h"},       {"1d", "d"},       {"90s", "s"},
        {"15min", "min"},     {"15MIN", "min"},  {"1h30m", "h"},    {" 30m", "m"},
        {"2 hours", nullptr}, {"30", nullptr},   {"30mx", nullptr}, {"m30", nullptr},
        {"1e2", nullptr},     {"1.5h", nullptr}, {"30m.", nullptr}, {"60abc", nullptr},
    };
    for (const auto& row : rows) {
        const char* unit = tool::storedUnit(row.stored);
        EXPECT_EQ(unit == nullptr, row.unit == nullptr) << row.stored;
        if (unit != nullptr && row.unit != nullptr) {
            EXPECT_STREQ(unit, row.unit) << row.stored;
        }
    }
}

}  // namespace
