#include <gtest/gtest.h>

#include "app/CommandTail.h"

namespace {

struct TailCase {
    const wchar_t* commandLine;
    const wchar_t* tail;
};

class TailTable : public ::testing::TestWithParam<TailCase> {};

TEST_P(TailTable, FormsTail) {
    EXPECT_EQ(FormCommandTail(GetParam().commandLine), GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, TailTable,
    ::testing::Values(
        TailCase{L"", L""},
        TailCase{L"corvalesmgr.exe", L""},
        TailCase{L"corvalesmgr.exe   ", L""},
        TailCase{L"corvalesmgr.exe /desktop", L"/desktop"},
        TailCase{L"\"C:\\Program Files\\x\\corvalesmgr.exe\" /taskbar", L"/taskbar"},
        TailCase{L"corvalesmgr.exe\t/taskbar", L"/taskbar"},
        // Every control character ends the name and is skipped after it.
        TailCase{L"a.exe\x01\x02\x1f /x", L"/x"},
        // Quotes toggle wherever they stand in the name and are kept.
        TailCase{L"C:\\a\"b c\"d.exe /x", L"/x"},
        TailCase{L"\"unterminated name /x", L""},
        TailCase{L"\"a\"\"b c\" /x", L"/x"},
        TailCase{L"\"a\"b c", L"c"},
        // Blanks inside the tail stay; only those right after the name go.
        TailCase{L"a.exe  /x  \"/y\" ", L"/x  \"/y\" "},
        TailCase{L" /x", L"/x"},
        TailCase{L"a.exe \x7f/x", L"\x7f/x"}));

TEST(CommandTail, NoCommandLineGivesEmptyTail) { EXPECT_EQ(FormCommandTail(nullptr), L""); }

TEST(CommandTail, NonAsciiIsNoBlank) {
    EXPECT_EQ(FormCommandTail(L"程序.exe\u3000/x /y"), L"/y");
    EXPECT_EQ(FormCommandTail(L"a.exe \u00a0/x"), L"\u00a0/x");
}

}  // namespace
