#include <gtest/gtest.h>

#include "app/Dispatch.h"
#include "fake/FakeInstall.h"
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

// A machine with the product installed, where an uninstall that runs has
// something to remove.
class DispatchFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetWindowsVersionCodeCache();
        installed::LayOut(sys);
    }
    void TearDown() override { ResetWindowsVersionCodeCache(); }
    // The calls that show which row ran: page opened, box shown, pause.
    std::vector<std::wstring> Outcome() const {
        std::vector<std::wstring> out;
        for (const auto& c : sys.calls)
            if (c.rfind(L"ShellExecuteW open|" + std::wstring(NavigationHomeUrl), 0) == 0 ||
                c.rfind(L"MessageBoxW", 0) == 0 || c == L"Sleep 2000")
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

class BoxAnswers : public DispatchFixture, public ::testing::WithParamInterface<int> {};

// 0 (no box could be shown), IDCANCEL, IDABORT, IDIGNORE, IDYES, IDNO.
TEST_P(BoxAnswers, AnyAnswerButOkRemovesNothing) {
    sys.messageBoxAnswer = GetParam();
    const auto files = sys.files;
    EXPECT_EQ(RunEntry(sys, L"/uninst"), 0);
    EXPECT_EQ(sys.calls, std::vector<std::wstring>{kBox});
    EXPECT_EQ(sys.files, files);
    EXPECT_EQ(sys.registryKeys.count(installed::kKey), 1u);
}

INSTANTIATE_TEST_SUITE_P(NotOk, BoxAnswers, ::testing::Values(0, 2, 3, 5, 6, 7));

// On the same machine OK does remove things, so the cases above can fail.
TEST_F(DispatchFixture, OkRunsTheFirstPhase) {
    sys.messageBoxAnswer = 1;
    EXPECT_EQ(RunEntry(sys, L"/uninst"), 0);
    EXPECT_EQ(sys.registryKeys.count(installed::kKey), 0u);
    EXPECT_FALSE(sys.FileExists(installed::kDesktopLink));
    EXPECT_EQ(sys.CallsStartingWith(L"ShellExecuteW open|" + installed::kTempExe).size(), 1u);
    EXPECT_EQ(sys.CallsStartingWith(L"MessageBoxW"), std::vector<std::wstring>{kBox});
}

// The user is told nothing more, and keeps everything to try again with.
TEST_F(DispatchFixture, OkWithoutACopyRemovesNothingAndSaysNothing) {
    sys.messageBoxAnswer = 1;
    sys.uncopyableTargets.insert(installed::kTempExe);
    const auto files = sys.files;
    EXPECT_EQ(RunEntry(sys, L"/uninst"), 0);
    EXPECT_EQ(sys.CallsStartingWith(L"MessageBoxW"), std::vector<std::wstring>{kBox});
    EXPECT_EQ(sys.files, files);
    EXPECT_EQ(sys.registryKeys.count(installed::kKey), 1u);
    EXPECT_TRUE(sys.CallsStartingWith(L"ShellExecuteW").empty());
}

TEST_F(DispatchFixture, SecondPhasePausesBeforeTouchingAnything) {
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
