#include <gtest/gtest.h>

#include "fake/FakeSystem.h"
#include "sysinfo/ShellPaths.h"

namespace {

// Every COM call happened inside an apartment, each CoInitialize has its
// CoUninitialize, and nothing obtained is left alive.
void ExpectComBalanced(const FakeSystem& sys) {
    EXPECT_EQ(sys.coInitializeCount, sys.coUninitializeCount);
    EXPECT_EQ(sys.coInitializeExCount, 0);  // plain CoInitialize, as the shell objects want
    EXPECT_EQ(sys.comDepth, 0);
    EXPECT_FALSE(sys.uninitializedWithoutInit);
    EXPECT_FALSE(sys.comUsedOutsideApartment);
    EXPECT_TRUE(sys.liveObjects.empty());
    EXPECT_TRUE(sys.liveItemLists.empty());
}

struct FolderCase {
    std::wstring (*get)(os::System&);
    int csidl;
};

class SpecialFolders : public ::testing::TestWithParam<FolderCase> {};

TEST_P(SpecialFolders, AskForTheirCsidlAndEndInOneBackslash) {
    FakeSystem sys;
    sys.specialFolders[GetParam().csidl] = L"C:\\Users\\me\\Folder";
    EXPECT_EQ(GetParam().get(sys), L"C:\\Users\\me\\Folder\\");
    EXPECT_EQ(sys.CallsStartingWith(L"SHGetSpecialFolderLocation"),
              (std::vector<std::wstring>{L"SHGetSpecialFolderLocation " +
                                         std::to_wstring(GetParam().csidl)}));
    EXPECT_EQ(sys.coInitializeCount, 1);
    ExpectComBalanced(sys);
}

INSTANTIATE_TEST_SUITE_P(Csidl, SpecialFolders,
                         ::testing::Values(FolderCase{GetAppDataPath, 26},
                                           FolderCase{GetDesktopPath, 16},
                                           FolderCase{GetProgramsPath, 2},
                                           FolderCase{GetStartMenuPath, 11}));

TEST(SpecialFolderPath, ShellAlreadyEndingInBackslashGetsNoSecond) {
    FakeSystem sys;
    sys.specialFolders[26] = L"C:\\Roaming\\";
    EXPECT_EQ(GetSpecialFolderPath(sys, 26), L"C:\\Roaming\\");
}

TEST(SpecialFolderPath, PathOf259CharactersHasNoRoomForTheBackslash) {
    FakeSystem sys;
    const std::wstring longPath = L"C:\\" + std::wstring(256, L'a');
    ASSERT_EQ(longPath.size(), 259u);
    sys.specialFolders[26] = longPath;
    EXPECT_EQ(GetSpecialFolderPath(sys, 26), longPath);
    const std::wstring shorter = L"C:\\" + std::wstring(255, L'a');
    sys.specialFolders[26] = shorter;
    EXPECT_EQ(GetSpecialFolderPath(sys, 26), shorter + L"\\");
}

TEST(SpecialFolderPath, FailuresGiveEmptyAndStayBalanced) {
    {
        FakeSystem sys;  // no such folder
        EXPECT_EQ(GetSpecialFolderPath(sys, 26), L"");
        ExpectComBalanced(sys);
    }
    {
        FakeSystem sys;
        sys.specialFolders[26] = L"";  // a folder without a file-system path
        EXPECT_EQ(GetSpecialFolderPath(sys, 26), L"");
        ExpectComBalanced(sys);
    }
    {
        FakeSystem sys;
        sys.specialFolders[26] = L"C:\\Roaming";
        sys.failGetMalloc = true;  // the list cannot be freed, but the path is known
        EXPECT_EQ(GetSpecialFolderPath(sys, 26), L"C:\\Roaming\\");
        EXPECT_EQ(sys.coInitializeCount, sys.coUninitializeCount);
    }
}

class ShellPathComAnswers : public ::testing::TestWithParam<ComAnswerCase> {};

// Only an initialisation that took is undone: a failed one holds nothing to
// give back. The helpers work all the same.
TEST_P(ShellPathComAnswers, OnlyASuccessfulInitialisationIsUndone) {
    const ComAnswerCase& c = GetParam();
    const std::wstring link = L"C:\\Users\\me\\Desktop\\a.lnk";
    for (bool folder : {true, false}) {
        SCOPED_TRACE(std::string(c.what) + (folder ? " folder" : " shortcut"));
        FakeSystem sys;
        sys.specialFolders[26] = L"C:\\Roaming";
        sys.AddShortcut(link, L"C:\\x.exe");
        sys.coInitializeResult = c.answer;
        if (folder)
            EXPECT_EQ(GetAppDataPath(sys), L"C:\\Roaming\\");
        else
            EXPECT_EQ(GetShortcutTarget(sys, link), L"C:\\x.exe");
        EXPECT_EQ(sys.CallsStartingWith(L"CoInit"), std::vector<std::wstring>{L"CoInitialize"});
        EXPECT_EQ(sys.coUninitializeCount, c.undone ? 1 : 0);
        EXPECT_EQ(sys.comDepth, 0);
        EXPECT_FALSE(sys.uninitializedWithoutInit);
        EXPECT_TRUE(sys.liveObjects.empty());
        EXPECT_TRUE(sys.liveItemLists.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ShellPathComAnswers, ::testing::ValuesIn(kComAnswers));

TEST(TempDirectoryPath, EndsInBackslashOrIsEmpty) {
    struct {
        std::wstring reported;
        std::wstring expected;
    } cases[] = {{L"C:\\Temp\\", L"C:\\Temp\\"}, {L"C:\\Temp", L"C:\\Temp\\"}, {L"", L""}};
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.tempPath = c.reported;
        EXPECT_EQ(GetTempDirectoryPath(sys), c.expected) << c.reported.size();
    }
}

TEST(SystemDirectoryPath, AlwaysEndsInSeparator) {
    struct {
        std::wstring reported;
        std::wstring expected;
    } cases[] = {{L"C:\\Windows\\system32", L"C:\\Windows\\system32\\"},
                 {L"C:\\Windows\\system32\\", L"C:\\Windows\\system32\\"},
                 {L"", L"\\"}};
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.systemDirectory = c.reported;
        EXPECT_EQ(GetSystemDirectoryPath(sys), c.expected);
    }
}

TEST(EnsureTrailingSeparator, AppendsOnlyWhenMissing) {
    struct {
        std::wstring in;
        std::wstring out;
    } cases[] = {{L"", L"\\"},         {L"C:", L"C:\\"},       {L"C:\\a\\", L"C:\\a\\"},
                 {L"C:/a/", L"C:/a/"}, {L"C:\\a", L"C:\\a\\"}, {L"\\", L"\\"}};
    for (auto c : cases) {
        EnsureTrailingSeparator(c.in);
        EXPECT_EQ(c.in, c.out);
    }
}

class ShortcutTarget : public ::testing::Test {
protected:
    const std::wstring link = L"C:\\Users\\me\\Desktop\\a.lnk";
    FakeSystem sys;
};

TEST_F(ShortcutTarget, ReadsTheRawTargetOnce) {
    sys.AddShortcut(link, L"%APPDATA%\\corvalesmgr\\corvalesmgr.exe");
    EXPECT_EQ(GetShortcutTarget(sys, link), L"%APPDATA%\\corvalesmgr\\corvalesmgr.exe");
    EXPECT_EQ(sys.loadAttempts, std::vector<std::wstring>{link});
    EXPECT_TRUE(sys.sleeps.empty());
    EXPECT_EQ(sys.CallsStartingWith(L"Load "), std::vector<std::wstring>{L"Load " + link + L"|0"});
    EXPECT_EQ(sys.CallsStartingWith(L"GetPath"), std::vector<std::wstring>{L"GetPath 260|4"});
    ExpectComBalanced(sys);
}

TEST_F(ShortcutTarget, LoadingAtTheThirdAttemptCostsTwoPauses) {
    sys.AddShortcut(link, L"C:\\x.exe");
    sys.shortcutLoadFailures[link] = 2;
    EXPECT_EQ(GetShortcutTarget(sys, link), L"C:\\x.exe");
    EXPECT_EQ(sys.loadAttempts.size(), 3u);
    EXPECT_EQ(sys.sleeps, (std::vector<std::uint32_t>{100, 100}));
    ExpectComBalanced(sys);
}

TEST_F(ShortcutTarget, NeverLoadingCostsTenAttemptsAndTenPauses) {
    sys.AddShortcut(link, L"C:\\x.exe");
    sys.shortcutLoadFailures[link] = -1;
    EXPECT_EQ(GetShortcutTarget(sys, link), L"");
    EXPECT_EQ(sys.loadAttempts.size(), 10u);
    EXPECT_EQ(sys.sleeps, std::vector<std::uint32_t>(10, 100));
    EXPECT_TRUE(sys.CallsStartingWith(L"GetPath").empty());
    ExpectComBalanced(sys);
}

TEST_F(ShortcutTarget, MissingLinkGivesEmptyAfterTenPauses) {
    EXPECT_EQ(GetShortcutTarget(sys, link), L"");
    EXPECT_EQ(sys.sleeps.size(), 10u);
}

TEST_F(ShortcutTarget, LinkWithoutTargetGivesEmpty) {
    sys.AddShortcut(link, L"");
    EXPECT_EQ(GetShortcutTarget(sys, link), L"");
    ExpectComBalanced(sys);
}

TEST_F(ShortcutTarget, ObjectFailuresGiveEmptyWithoutLoading) {
    for (bool failCreate : {true, false}) {
        FakeSystem s;
        s.AddShortcut(link, L"C:\\x.exe");
        s.failCoCreate = failCreate;
        s.failQueryInterface = !failCreate;
        EXPECT_EQ(GetShortcutTarget(s, link), L"");
        EXPECT_TRUE(s.loadAttempts.empty());
        EXPECT_TRUE(s.sleeps.empty());
        ExpectComBalanced(s);
    }
}

TEST_F(ShortcutTarget, ReleasesPersistFileBeforeShellLink) {
    sys.AddShortcut(link, L"C:\\x.exe");
    GetShortcutTarget(sys, link);
    const auto releases = sys.CallsStartingWith(L"Release ");
    ASSERT_EQ(releases.size(), 2u);
    // Handles are handed out in creation order: link first, then its view.
    EXPECT_GT(releases[0], releases[1]);
}

TEST(FolderHasEntriesTest, CountsAnythingButDotEntries) {
    const std::wstring folder = L"C:\\Start\\Programs\\Product\\";
    struct {
        const char* what;
        std::function<void(FakeSystem&)> setUp;
        bool expected;
    } cases[] = {
        {"missing folder", [](FakeSystem&) {}, false},
        {"empty folder", [&](FakeSystem& s) { s.AddDirectory(folder); }, false},
        {"one file", [&](FakeSystem& s) { s.AddFile(folder + L"hidden.ini"); }, true},
        {"empty subfolder", [&](FakeSystem& s) { s.AddDirectory(folder + L"sub"); }, true},
        {"only a sibling folder has files",
         [&](FakeSystem& s) {
             s.AddDirectory(folder);
             s.AddFile(L"C:\\Start\\Programs\\Product2\\x.lnk");
         },
         false},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        c.setUp(sys);
        EXPECT_EQ(FolderHasEntries(sys, folder), c.expected) << c.what;
        EXPECT_EQ(sys.CallsStartingWith(L"FindFirstFileW"),
                  std::vector<std::wstring>{L"FindFirstFileW " + folder + L"*.*"})
            << c.what;
        EXPECT_EQ(sys.openFinds(), 0) << c.what;
    }
}

}  // namespace
