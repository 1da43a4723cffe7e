#include <gtest/gtest.h>

#include "app/Dispatch.h"
#include "fake/FakeSystem.h"
#include "fake/WindowsVersionCache.h"
#include "launch/NavigationPage.h"

namespace {

// The page opened for each tag, at the home address this build was
// configured with.
std::wstring PageOpened(const wchar_t* tag) {
    return L"ShellExecuteW open|" + std::wstring(NavigationHomeUrl) + L"?f=aloneicon&" + tag +
           L"|(null)|(null)|1";
}
const std::wstring kDesk = PageOpened(L"desk");
const std::wstring kTask = PageOpened(L"task");
const std::wstring kStmn = PageOpened(L"stmn");
const std::wstring kBox = L"MessageBoxW 是否完全卸载Lumora网址大全桌面版？|卸载提示|33";

// A machine with nothing installed: the uninstall rows then only touch
// missing items, which keeps these cases about the dispatch itself.
class DispatchFixture : public ::testing::Test {
protected:
    void SetUp() override { ResetWindowsVersionCodeCache(); }
    // The calls that show which row ran: page opened, box shown, pause.
    std::vector<std::wstring> Outcome() const {
        std::vector<std::wstring> out;
        for (const auto& c : sys.calls)
            if (c.rfind(L"ShellExecuteW open|" + std::wstring(NavigationHomeUrl), 0) == 0 ||
                c.rfind(L"MessageBoxW", 0) == 0 ||
                c == L"Sleep 2000")
                out.push_back(c);
        return out;
    }
    FakeSystem sys;
};

struct DispatchCase {
    const wchar_t* tail;
    std::vector<std::wstring> outcome;
};

class DispatchTable : public DispatchFixture,
                      public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTable, RunsTheFirstMatchingRow) {
    sys.messageBoxAnswer = 2;  // Cancel
    EXPECT_EQ(RunEntry(sys, GetParam().tail), 0);
    EXPECT_EQ(Outcome(), GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Tails, DispatchTable,
    ::testing::Values(
        DispatchCase{L"", {kDesk}},
        DispatchCase{L"/foo", {kDesk}},
        DispatchCase{L"-bar:baz", {kDesk}},
        DispatchCase{L"/desktop", {kDesk}},
        DispatchCase{L"/DESKTOP", {kDesk}},
        DispatchCase{L"-Desktop", {kDesk}},
        DispatchCase{L"/TaskBar", {kTask}},
        DispatchCase{L"/startmenu", {kStmn}},
        DispatchCase{L"/taskbar /startmenu", {kStmn}},
        DispatchCase{L"/taskbar /desktop", {kDesk}},
        DispatchCase{L"/uninst /desktop", {kDesk}},
        DispatchCase{L"/install", {}},
        DispatchCase{L"/install /taskbar", {kTask}},
        DispatchCase{L"/del", {kDesk}},
        DispatchCase{L"/uninst", {kBox}},
        DispatchCase{L"/uninst:now", {kBox}},
        DispatchCase{L"/uninst /install", {kBox}},
        DispatchCase{L"/uninst /del", {L"Sleep 2000"}},
        DispatchCase{L"/del /uninst", {L"Sleep 2000"}},
        DispatchCase{L"/del:x /uninst:y", {L"Sleep 2000"}},
        DispatchCase{L"/x:\"/uninst\"", {kDesk}},
        DispatchCase{L"--desktop", {kDesk}},
        DispatchCase{L"/a\t/taskbar", {kDesk}},
        DispatchCase{L"/desktop:\"never\" /taskbar", {kDesk}}));

TEST_F(DispatchFixture, CancelledBoxRemovesNothing) {
    sys.messageBoxAnswer = 2;
    RunEntry(sys, L"/uninst");
    EXPECT_TRUE(sys.CallsStartingWith(L"SHDeleteKeyW").empty());
    EXPECT_TRUE(sys.CallsStartingWith(L"DeleteFileW").empty());
    EXPECT_TRUE(sys.CallsStartingWith(L"CopyFileW").empty());
}

TEST_F(DispatchFixture, AnyAnswerButOkRemovesNothing) {
    for (int answer : {0, 2, 3, 5, 6, 7}) {
        FakeSystem fresh;
        fresh.messageBoxAnswer = answer;
        RunEntry(fresh, L"/uninst");
        EXPECT_TRUE(fresh.CallsStartingWith(L"SHDeleteKeyW").empty()) << answer;
    }
}

TEST_F(DispatchFixture, OkStartsTheFirstPhase) {
    sys.specialFolders[26] = L"C:\\Users\\me\\AppData\\Roaming";
    sys.messageBoxAnswer = 1;
    RunEntry(sys, L"/uninst");
    EXPECT_EQ(sys.CallsStartingWith(L"SHDeleteKeyW").size(), 1u);
}

TEST_F(DispatchFixture, SecondPhasePausesBeforeTouchingAnything) {
    sys.specialFolders[26] = L"C:\\Users\\me\\AppData\\Roaming";
    RunEntry(sys, L"/uninst /del");
    ASSERT_FALSE(sys.calls.empty());
    const auto firstDelete = std::find_if(sys.calls.begin(), sys.calls.end(), [](const auto& c) {
        return c.rfind(L"DeleteFileW", 0) == 0;
    });
    const auto pause = std::find(sys.calls.begin(), sys.calls.end(), L"Sleep 2000");
    ASSERT_NE(firstDelete, sys.calls.end());
    EXPECT_LT(pause, firstDelete);
    EXPECT_TRUE(sys.CallsStartingWith(L"MessageBoxW").empty());
    EXPECT_TRUE(sys.CallsStartingWith(L"SHDeleteKeyW").empty());
}

TEST_F(DispatchFixture, ProgramMainRestrictsDllSearchFirst) {
    sys.commandLine = L"\"C:\\dir with blanks\\corvalesmgr.exe\" /taskbar";
    EXPECT_EQ(ProgramMain(sys), 0);
    ASSERT_GE(sys.calls.size(), 2u);
    EXPECT_EQ(sys.calls.front(), L"SetDefaultDllDirectories");
    EXPECT_EQ(sys.dllDirectoryFlags, 0x800u);
    EXPECT_EQ(Outcome(), std::vector<std::wstring>{kTask});
}

TEST_F(DispatchFixture, ProgramMainRunsWithoutSetDefaultDllDirectories) {
    sys.hasSetDefaultDllDirectories = false;
    sys.commandLine = L"corvalesmgr.exe /startmenu";
    EXPECT_EQ(ProgramMain(sys), 0);
    EXPECT_EQ(Outcome(), std::vector<std::wstring>{kStmn});
}

TEST_F(DispatchFixture, NoCommandLineOpensTheDesktopPage) {
    sys.commandLine.reset();
    EXPECT_EQ(ProgramMain(sys), 0);
    EXPECT_EQ(Outcome(), std::vector<std::wstring>{kDesk});
}

TEST_F(DispatchFixture, RefusedLaunchStillExitsWithZero) {
    sys.shellExecuteResult = 2;
    EXPECT_EQ(RunEntry(sys, L"/desktop"), 0);
}

}  // namespace
