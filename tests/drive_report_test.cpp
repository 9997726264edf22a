// advise's reader of a drive's own command timeouts: reports built byte by byte from their layout.
#include <gtest/gtest.h>

#include <drive_report.h>

#include <string>

#include "drive_report_bytes.h"

namespace {

namespace tool = scsi_timeouts_tool;

struct DriveRow {
    const char* label;
    Bytes bytes;
    long offset;  // where it is malformed; -1: it is not
    int code;
    uint32_t asks;  // 0: nothing asked
    std::size_t warnings;
};

// clang-format off
const DriveRow drive_rows[] = {
    {"RecommendedFirst", report(cmd({0x8C, 60, 132})), -1, 0x8C, 132, 0},
    {"NominalWhenNoRecommended", report(cmd({0x8C, 60, 0})), -1, 0x8C, 60, 0},
    {"ZerosAskNothing", report(cmd({0x8C, 0, 0})), -1, 0x8C, 0, 0},
    {"LargestServiceAction",
     report(cmd({0xA3, 0, 30, true, 0x0C}) + cmd({0xA3, 0, 90, true, 0x0D}) + cmd({0xA3, 5, 0, true, 5})),
     -1, 0xA3, 90, 0},
    {"CtdpOffThenOne", report(cmd({0x12, 0, 0, false}) + cmd({0x8C, 0, 132})), -1, 0x8C, 132, 0},
    {"CtdpOffAsksNothing", report(cmd({0x12, 0, 0, false})), -1, 0x12, 0, 0},
    {"OtherFlagsIgnored", report(cmd({0x92, 0, 7200, true, -1, 0x7C})), -1, 0x92, 7200, 0},
    {"AboveOneDay", report(cmd({0x93, 100000, 166370})), -1, 0x93, 166370, 0},
    {"EmptyList", report(""), -1, 0x8C, 0, 0},
    {"CutShort", report(cmd({0x8C, 0, 132}) + cmd({0x93, 0, 9}).substr(0, 11), 9), -1, 0x93, 0, 1},
    {"CutShortKeepsWhole", report(cmd({0x8C, 0, 132}), 20), -1, 0x8C, 132, 1},
    {"TrailingBytes", report(cmd({0x8C, 0, 132})) + "abc", -1, 0x8C, 132, 1},
    {"ThreeBytes", Bytes("\0\0\0", 3), 3, 0, 0, 0},
    {"DescriptorCutOff", report(cmd({0x8C, 0, 132}) + cmd({0x93, 0, 9}).substr(0, 5)), 24, 0, 0, 0},
    {"TimeoutsLengthNot10", report(cmd({0x12, 0, 0, false}) + cmd({0x8C, 0, 132, true, -1, 0, 12})),
     20, 0, 0, 0},
    {"LengthAboveOneMiB", be<4>(0x100001) + cmd({0x8C, 0, 132}), 0, 0, 0, 0},
    {"TextFile", "# a text file\n", 0, 0, 0, 0},
    {"FileAboveOneMiB", report(Bytes(tool::drive_report_max - 3, '\0')), 1 << 20, 0, 0, 0},
};
// clang-format on

class DriveReportRows : public ::testing::TestWithParam<DriveRow> {};

TEST_P(DriveReportRows, ParseAsTheLayoutSays) {
    const DriveRow& row = GetParam();
    const auto* data = reinterpret_cast<const unsigned char*>(row.bytes.data());
    const tool::DriveReport r = tool::parseDriveReport(data, row.bytes.size());
    EXPECT_EQ(r.malformed, row.offset >= 0) << r.reason;
    if (r.malformed) {
        EXPECT_EQ(static_cast<long>(r.offset), row.offset) << r.reason;
        return;
    }
    EXPECT_EQ(r.asks[row.code].present, row.asks != 0);
    EXPECT_EQ(r.asks[row.code].seconds, row.asks);
    EXPECT_EQ(r.warnings.size(), row.warnings);
}

INSTANTIATE_TEST_SUITE_P(DriveReport, DriveReportRows, ::testing::ValuesIn(drive_rows),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
