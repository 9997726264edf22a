// The stand-in's file format on strings: every byte kept, values read, one value edited.
#include <gtest/gtest.h>

#include <IniText.h>

#include <optional>
#include <string>
#include <vector>

namespace {

namespace ini = qrlib_stand_in::ini;

struct Edit {
    const char* label;
    const char* name;  // under ScsiTimeouts: read, then set to "*1*"
    std::optional<std::string> read;
    std::string before;
    std::string after;
    std::vector<std::size_t> unreadable;  // lines, from 1
};

// clang-format off
const Edit edits[] = {
    {"OnlyItsOwnLineChanges", "LOAD", "soon",
     "# notes\n\n; old\n[Base]\nvARURAROD=1\n\n[ScsiTimeouts]\nZ=1\nLOAD=soon\nA=2\n??\n"
     "[Other]\nLOAD=3\n",
     "# notes\n\n; old\n[Base]\nvARURAROD=1\n\n[ScsiTimeouts]\nZ=1\nLOAD=*1*\nA=2\n??\n"
     "[Other]\nLOAD=3\n",
     {11}},
    {"NewValueEndsItsSection", "INQUIRY", std::nullopt,
     "[ScsiTimeouts]\nREWIND=900\n[Open\n\n# next\n[Other]\nX=1\n",
     "[ScsiTimeouts]\nREWIND=900\nINQUIRY=*1*\n[Open\n\n# next\n[Other]\nX=1\n", {3}},
    {"MissingSectionAdded", "INQUIRY", std::nullopt,
     "top=1\n[Other]\nX=1", "top=1\n[Other]\nX=1\n[ScsiTimeouts]\nINQUIRY=*1*\n", {1}},
    {"EmptyFile", "INQUIRY", std::nullopt, "", "[ScsiTimeouts]\nINQUIRY=*1*\n", {}},
    {"EmptyHeaderUnreadable", "LOAD", std::nullopt,
     "[ ]\nLOAD=1\n", "[ ]\nLOAD=1\n[ScsiTimeouts]\nLOAD=*1*\n", {1, 2}},
    {"CrLfKept", "LOAD", "soon",
     "[ScsiTimeouts]\r\nLOAD=soon\r\n", "[ScsiTimeouts]\r\nLOAD=*1*\r\n", {}},
    {"CrLfForNewLines", "LOAD", std::nullopt,
     "[Other]\r\nX=1\r\n", "[Other]\r\nX=1\r\n[ScsiTimeouts]\r\nLOAD=*1*\r\n", {}},
    {"LoneCarriageReturnIsText", "LOAD", "1\r2",
     "[ScsiTimeouts]\nLOAD=1\r2\n", "[ScsiTimeouts]\nLOAD=*1*\n", {}},
    {"NamesTrimmedValueVerbatim", "ERASE", " 500 ",
     "\xEF\xBB\xBF[ScsiTimeouts] \n ERASE = 500 \n", "\xEF\xBB\xBF[ScsiTimeouts] \n ERASE =*1*\n",
     {}},
    {"EqualsInTheValue", "LOAD", "a=b",
     "[ScsiTimeouts]\nLOAD=a=b\n", "[ScsiTimeouts]\nLOAD=*1*\n", {}},
    {"CommentAfterHeader", "REWIND", "60",
     "[ScsiTimeouts] ; tuned\nREWIND=60\n", "[ScsiTimeouts] ; tuned\nREWIND=*1*\n", {}},
    {"UnreadableHeaderOwnsItsValues", "LOAD", "1",
     "[ScsiTimeouts]\nLOAD=1\n[Other] x\nLOAD=2\n# note\n[ScsiTimeouts\nLOAD=3\n",
     "[ScsiTimeouts]\nLOAD=*1*\n[Other] x\nLOAD=2\n# note\n[ScsiTimeouts\nLOAD=3\n",
     {3, 4, 6, 7}},
    {"LastOfTwoWins", "LOAD", "2",
     "[ScsiTimeouts]\nLOAD=1\n[Other]\n[ScsiTimeouts]\nLOAD=2\n",
     "[ScsiTimeouts]\nLOAD=1\n[Other]\n[ScsiTimeouts]\nLOAD=*1*\n", {}},
};
// clang-format on

void PrintTo(const Edit& e, std::ostream* out) {
    *out << e.label;
}

class IniEdit : public ::testing::TestWithParam<Edit> {};

TEST_P(IniEdit, KeepsEveryOtherByte) {
    const Edit& e = GetParam();
    ini::Text text = ini::split(e.before);
    EXPECT_EQ(ini::join(text), e.before);

    const std::vector<ini::Entry> entries = ini::readEntries(text);
    ASSERT_EQ(entries.size(), text.lines.size());
    std::vector<std::size_t> unreadable;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].kind == ini::Entry::Unreadable) {
            unreadable.push_back(i + 1);
            EXPECT_STRNE(entries[i].why, "");
        }
    }
    EXPECT_EQ(unreadable, e.unreadable);

    const ini::Values values = ini::valuesOf(text, entries);
    const auto key = values.find("ScsiTimeouts");
    std::optional<std::string> read;
    if (key != values.end() && key->second.count(e.name) != 0) {
        read = key->second.at(e.name);
    }
    EXPECT_EQ(read, e.read);

    ini::setValue(text, entries, "ScsiTimeouts", e.name, "*1*");
    EXPECT_EQ(ini::join(text), e.after);
}

INSTANTIATE_TEST_SUITE_P(StandInText, IniEdit, ::testing::ValuesIn(edits),
                         [](const ::testing::TestParamInfo<Edit>& info) {
                             return std::string(info.param.label);
                         });

TEST(StandInText, AnyBytesSplitAndJoinUnchanged) {
    const std::string contents[] = {"",
                                    "\n",
                                    "\r\n",
                                    "\r",
                                    "a\r",
                                    "\n\n\r\n",
                                    "\r\r\n",
                                    "\xEF\xBB\xBF",
                                    "\xEF\xBB\xBF\n",
                                    "\xEF\xBB",
                                    std::string("a\0b\n", 4),
                                    "x=1\ry\r\n\xFF"};
    for (const std::string& content : contents) {
        EXPECT_EQ(ini::join(ini::split(content)), content) << ::testing::PrintToString(content);
    }
    EXPECT_EQ(ini::split("a\r\nb\n\r").lines.size(), 3u);
    EXPECT_EQ(ini::split("\xEF\xBB\xBF").lines.size(), 0u);
}

}  // namespace
