#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app/CmdLineParser.h"

namespace {

using Entries = std::vector<std::pair<std::wstring, std::wstring>>;

Entries EntriesOf(const CCmdLineParser& parser) {
    return Entries(parser.Switches.begin(), parser.Switches.end());
}

struct ParseCase {
    const wchar_t* text;
    Entries expected;
};

class ParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, GivesTheseEntries) {
    const ParseCase& c = GetParam();
    CCmdLineParser parser(false);
    const bool result = parser.Parse(c.text);
    EXPECT_EQ(EntriesOf(parser), c.expected);
    EXPECT_EQ(result, !c.expected.empty());
    EXPECT_EQ(parser.CmdLine, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, ParseTable,
    ::testing::Values(
        ParseCase{L"", {}},
        ParseCase{L"/uninst /del", {{L"del", L""}, {L"uninst", L""}}},
        ParseCase{L"-Desktop", {{L"desktop", L""}}},
        ParseCase{L"/a:\"x y\" /b", {{L"a", L"x y"}, {L"b", L""}}},
        ParseCase{L"/a:\"x y", {{L"a", L"x y"}}},
        ParseCase{L"/a:\"x\"y /b", {{L"a", L"x"}, {L"b", L""}}},
        ParseCase{L"/a:x\"y z", {{L"a", L"x\"y"}}},
        ParseCase{L"/a:b:d", {{L"a", L"b:d"}}},
        ParseCase{L"/a: b", {{L"a", L""}}},
        ParseCase{L"/a:", {{L"a", L""}}},
        ParseCase{L"/a:\"\"", {{L"a", L""}}},
        ParseCase{L"/:x", {}},
        ParseCase{L"/ x", {}},
        ParseCase{L"/ /desktop", {{L"desktop", L""}}},
        ParseCase{L"/", {}},
        ParseCase{L"-", {}},
        ParseCase{L"--desktop", {{L"-desktop", L""}}},
        ParseCase{L"foo-bar", {{L"bar", L""}}},
        ParseCase{L"/a-b/d", {{L"a-b/d", L""}}},
        ParseCase{L"/A:1 /a:2", {{L"a", L"1"}}},
        ParseCase{L"/x:\"/uninst\"", {{L"x", L"/uninst"}}},
        ParseCase{L"/a\t/b", {{L"a\t/b", L""}}},
        // Only A-Z fold; other letters keep their case.
        ParseCase{L"/ÄBC /ΣX", {{L"Äbc", L""}, {L"Σx", L""}}},
        // Values keep their case; an empty key drops its value.
        ParseCase{L"/k:MixedCase /:v /z", {{L"k", L"MixedCase"}, {L"z", L""}}},
        ParseCase{L"/a:x /a:y /a", {{L"a", L"x"}}},
        ParseCase{L"  /a   /b  ", {{L"a", L""}, {L"b", L""}}},
        ParseCase{L"/a::b", {{L"a", L":b"}}},
        ParseCase{L"/a:\"q\"/b", {{L"a", L"q"}, {L"b", L""}}}));

TEST(CmdLineParser, CaseSensitiveKeepsKeysAsGiven) {
    CCmdLineParser parser(true);
    EXPECT_TRUE(parser.Parse(L"-Desktop"));
    EXPECT_EQ(EntriesOf(parser), (Entries{{L"Desktop", L""}}));
    EXPECT_TRUE(parser.HasKey(L"Desktop"));
    EXPECT_FALSE(parser.HasKey(L"desktop"));
    EXPECT_FALSE(parser.HasKey(L"DESKTOP"));
}

TEST(CmdLineParser, CaseInsensitiveLooksUpFoldedKeys) {
    CCmdLineParser parser(false);
    parser.Parse(L"/TaskBar /Ärger");
    EXPECT_TRUE(parser.HasKey(L"taskbar"));
    EXPECT_TRUE(parser.HasKey(L"TASKBAR"));
    EXPECT_TRUE(parser.HasKey(L"Ärger"));
    EXPECT_FALSE(parser.HasKey(L"ärger"));
    EXPECT_FALSE(parser.HasKey(L"task"));
    for (const auto& entry : parser.Switches)
        for (wchar_t c : entry.first) EXPECT_FALSE(c >= L'A' && c <= L'Z');
}

TEST(CmdLineParser, AbsentTextKeepsWhatWasThere) {
    CCmdLineParser parser(false);
    parser.Parse(L"/keep");
    EXPECT_FALSE(parser.Parse(nullptr));
    EXPECT_EQ(parser.CmdLine, L"/keep");
    EXPECT_TRUE(parser.HasKey(L"keep"));
}

TEST(CmdLineParser, EachParseReplacesTheLastOne) {
    CCmdLineParser parser(false);
    parser.Parse(L"/first");
    EXPECT_FALSE(parser.Parse(L"no switches"));
    EXPECT_TRUE(parser.Switches.empty());
    EXPECT_EQ(parser.CmdLine, L"no switches");
}

TEST(CmdLineParser, KeysAreInOrdinalOrder) {
    CCmdLineParser parser(true);
    // U+00E9 sorts after 'z' and after 'Z'; a proper prefix sorts first.
    parser.Parse(L"/\u00e9 /z /Z /ab /a /b");
    std::vector<std::wstring> keys;
    for (const auto& entry : parser.Switches) keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"Z", L"a", L"ab", L"b", L"z", L"\u00e9"}));
}

TEST(CmdLineParser, OrdinalOrderComparesUnitsUnsigned) {
    CCmdLineParser::OrdinalLess less;
    EXPECT_TRUE(less(L"a", L"ab"));
    EXPECT_FALSE(less(L"ab", L"a"));
    EXPECT_TRUE(less(std::wstring(1, wchar_t(0x7F)), std::wstring(1, wchar_t(0xFFFF))));
    EXPECT_FALSE(less(L"same", L"same"));
}

TEST(CmdLineParser, LowerAsciiLettersTouchesOnlyAToZ) {
    EXPECT_EQ(LowerAsciiLetters(L"AZaz@[`{ÀÉ"), L"azaz@[`{ÀÉ");
}

}  // namespace
