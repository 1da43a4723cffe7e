#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fake/FakeInstall.h"
#include "fake/FakeSystem.h"
#include "fake/WindowsVersionCache.h"
#include "uninstall/Uninstaller.h"

namespace {

using namespace installed;

const std::wstring kKernel = L"C:\\Windows\\system32\\ntoskrnl.exe";

enum class Release { Xp, Win2000, Server2012, Vista, Win7, Server2008, Win8, Win81, Win10 };

// A user with the product installed and every shortcut in place.
class UninstallerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetWindowsVersionCodeCache();
        installed::LayOut(sys);
        UseRelease(Release::Xp);
    }
    void TearDown() override { ResetWindowsVersionCodeCache(); }

    void UseRelease(Release release) {
        ResetWindowsVersionCodeCache();
        switch (release) {
            case Release::Xp: sys.SetVersion(2, 5, 1, 1); break;
            case Release::Win2000: sys.SetVersion(2, 5, 0, 1); break;
            case Release::Server2012: sys.SetVersion(2, 6, 2, 3); break;
            case Release::Vista: sys.SetVersion(2, 6, 0, 1); break;
            case Release::Win7: sys.SetVersion(2, 6, 1, 1); break;
            case Release::Server2008: sys.SetVersion(2, 6, 1, 3); break;
            case Release::Win8: Kernel(6, 2); break;
            case Release::Win81: Kernel(6, 3); break;
            case Release::Win10: Kernel(10, 0); break;
        }
    }
    void Kernel(std::uint32_t major, std::uint32_t minor) {
        sys.SetVersion(2, 6, 2, 1);
        sys.fileVersions[kKernel] = {(major << 16) | minor, 0};
    }
    std::vector<std::wstring> Verbs() const {
        std::vector<std::wstring> out;
        for (const auto& c : sys.CallsStartingWith(L"ShellExecuteW "))
            if (c.find(L"unpin|") != std::wstring::npos) out.push_back(c);
        return out;
    }
    std::size_t IndexOf(const std::wstring& prefix) const {
        const auto it = std::find_if(sys.calls.begin(), sys.calls.end(), [&](const auto& c) {
            return c.compare(0, prefix.size(), prefix) == 0;
        });
        return static_cast<std::size_t>(it - sys.calls.begin());
    }

    FakeSystem sys;
};

TEST_F(UninstallerFixture, ComputesTheInstallPaths) {
    CUninstaller u(sys);
    EXPECT_EQ(u.Initialized, 1);
    EXPECT_EQ(u.InstallDir, kInstallDir);
    EXPECT_EQ(u.ExePath, kExe);
    EXPECT_EQ(u.ConfigPath, kConfig);
    EXPECT_EQ(u.UninstallLinkPath, kUninstallLink);
    EXPECT_EQ(u.TempExePath, kTempExe);
}

TEST_F(UninstallerFixture, InitializeTwiceChangesNothing) {
    CUninstaller u(sys);
    sys.specialFolders[26] = L"D:\\Elsewhere";
    UseRelease(Release::Win7);
    u.Initialize();
    EXPECT_EQ(u.InstallDir, kInstallDir);
    EXPECT_EQ(u.UsesPinnedLocations, 0);
}

// The calls of the fake that change something, in order.
std::vector<std::wstring> Changes(const FakeSystem& sys) {
    std::vector<std::wstring> out;
    for (const auto& call : sys.calls)
        for (const auto* change : {L"CopyFileW ", L"SHDeleteKeyW ", L"DeleteFileW ",
                                   L"RemoveDirectoryW ", L"MoveFileExW ", L"ShellExecuteW "})
            if (call.rfind(change, 0) == 0) out.push_back(call);
    return out;
}

const std::wstring kCopy = L"CopyFileW " + kExe + L"|" + kTempExe + L"|0";
const std::wstring kStart = L"ShellExecuteW open|" + kTempExe + L"|/uninst /del|" + kTemp + L"|5";

class FirstPhaseOrder : public UninstallerFixture,
                        public ::testing::WithParamInterface<Release> {};

// The copy is made before anything is removed, and started after.
TEST_P(FirstPhaseOrder, CopiesThenDeletesTheKeyThenTheShortcutsThenStarts) {
    UseRelease(GetParam());
    CUninstaller u(sys);
    EXPECT_TRUE(u.Run(0));
    const std::vector<std::wstring> changes = Changes(sys);
    ASSERT_GE(changes.size(), 4u);
    EXPECT_EQ(changes[0], kCopy);
    EXPECT_EQ(changes[1], L"SHDeleteKeyW HKCU|" + kKey);
    EXPECT_EQ(changes.back(), kStart);
    for (std::size_t i = 2; i + 1 < changes.size(); ++i) {
        const std::wstring& c = changes[i];
        const bool shortcutStep = c.rfind(L"DeleteFileW ", 0) == 0 ||
                                  c.rfind(L"RemoveDirectoryW " + kProgramsFolder, 0) == 0 ||
                                  c.find(L"unpin|") != std::wstring::npos;
        EXPECT_TRUE(shortcutStep) << std::string(c.begin(), c.end());
    }
    EXPECT_EQ(sys.registryKeys, std::set<std::wstring>{kSiblingKey});
    EXPECT_FALSE(sys.FileExists(kUninstallLink));
    EXPECT_FALSE(sys.FileExists(kDesktopLink));
    EXPECT_FALSE(sys.DirectoryExists(kProgramsFolder));
    EXPECT_EQ(sys.files[kTempExe], "program");
    // The installed program is still running: its files stay for phase 2.
    EXPECT_TRUE(sys.FileExists(kExe));
    EXPECT_TRUE(sys.FileExists(kConfig));
    EXPECT_TRUE(sys.DirectoryExists(kInstallDir));
    EXPECT_TRUE(sys.CallsStartingWith(L"MoveFileExW").empty());
}

INSTANTIATE_TEST_SUITE_P(Releases, FirstPhaseOrder,
                         ::testing::Values(Release::Xp, Release::Win7));

struct FailedCopyCase {
    const char* what;
    std::function<void(FakeSystem&)> arrange;
};

class FailedCopy : public UninstallerFixture,
                   public ::testing::WithParamInterface<FailedCopyCase> {};

// Without a copy to finish the work, the user keeps the uninstall entry and
// every shortcut and can try again.
TEST_P(FailedCopy, RemovesNothingAndStartsNothing) {
    UseRelease(Release::Win7);  // where the shortcuts would be unpinned
    GetParam().arrange(sys);
    CUninstaller u(sys);
    const std::size_t before = sys.calls.size();
    const auto files = sys.files;
    const auto directories = sys.directories;
    const auto keys = sys.registryKeys;
    EXPECT_TRUE(u.Run(0));
    EXPECT_EQ(std::vector<std::wstring>(sys.calls.begin() + static_cast<long>(before),
                                        sys.calls.end()),
              std::vector<std::wstring>{kCopy})
        << GetParam().what;
    EXPECT_EQ(sys.files, files) << GetParam().what;
    EXPECT_EQ(sys.directories, directories) << GetParam().what;
    EXPECT_EQ(sys.registryKeys, keys) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedCopy,
    ::testing::Values(
        FailedCopyCase{"target held open, or the disk full",
                       [](FakeSystem& s) { s.uncopyableTargets.insert(kTempExe); }},
        FailedCopyCase{"an older copy there, held open",
                       [](FakeSystem& s) {
                           s.AddFile(kTempExe, "planted");
                           s.uncopyableTargets.insert(kTempExe);
                       }},
        FailedCopyCase{"a folder of that name", [](FakeSystem& s) { s.AddDirectory(kTempExe); }},
        FailedCopyCase{"temporary folder gone",
                       [](FakeSystem& s) { s.directories.erase(StripTrailingBackslash(kTemp)); }}));

TEST_F(UninstallerFixture, RefusedStartUndoesNothing) {
    sys.shellExecuteResult = 2;  // file not found
    CUninstaller u(sys);
    EXPECT_TRUE(u.Run(0));
    EXPECT_EQ(Changes(sys).back(), kStart);
    EXPECT_EQ(sys.registryKeys, std::set<std::wstring>{kSiblingKey});
    EXPECT_FALSE(sys.FileExists(kDesktopLink));
    EXPECT_EQ(sys.files[kTempExe], "program");
    EXPECT_FALSE(u.RelaunchFromTemp());
    sys.shellExecuteResult = 33;
    EXPECT_TRUE(u.RelaunchFromTemp());
}

// Every shell call of phase 1 (two unpins and the start) has an apartment of
// its own, single-threaded without OLE1 DDE (flags 2 | 4).
TEST_F(UninstallerFixture, FirstPhaseGivesEveryShellCallItsOwnApartment) {
    UseRelease(Release::Win7);
    CUninstaller u(sys);
    u.Run(0);
    EXPECT_EQ(sys.CallsStartingWith(L"ShellExecuteW ").size(), 3u);
    EXPECT_EQ(sys.ShellExecuteApartmentFaults(0x6), L"");
}

// The shell calls are made all the same, and the failed initialisations are
// not balanced.
TEST_F(UninstallerFixture, FirstPhaseCallsTheShellWhereCOMCannotBeInitialised) {
    UseRelease(Release::Win7);
    sys.coInitializeExResult = kRpcEChangedMode;
    CUninstaller u(sys);
    u.Run(0);
    std::size_t shellCalls = 0;
    for (std::size_t i = 0; i < sys.calls.size(); ++i) {
        if (sys.calls[i].rfind(L"ShellExecuteW ", 0) != 0) continue;
        ++shellCalls;
        EXPECT_EQ(sys.calls[i - 1], L"CoInitializeEx 6");
        const bool undone = i + 1 < sys.calls.size() && sys.calls[i + 1] == L"CoUninitialize";
        EXPECT_FALSE(undone);
    }
    EXPECT_EQ(shellCalls, 3u);
    EXPECT_EQ(sys.CallsStartingWith(L"CoInitializeEx").size(), 3u);
    EXPECT_EQ(sys.comDepth, 0);
    EXPECT_FALSE(sys.uninitializedWithoutInit);
}

TEST_F(UninstallerFixture, SecondPhaseRemovesTheProgramFolderAndMarksItsCopy) {
    sys.AddFile(kTempExe, "program");
    CUninstaller u(sys);
    const std::size_t before = sys.calls.size();
    EXPECT_TRUE(u.Run(1));
    const std::vector<std::wstring> calls(sys.calls.begin() + static_cast<long>(before),
                                          sys.calls.end());
    EXPECT_EQ(calls, (std::vector<std::wstring>{
                         L"DeleteFileW " + kExe, L"DeleteFileW " + kUninstallLink,
                         L"DeleteFileW " + kConfig, L"RemoveDirectoryW " + kInstallDir,
                         L"MoveFileExW " + kTempExe + L"|(null)|4"}));
    EXPECT_FALSE(sys.DirectoryExists(kInstallDir));
    EXPECT_EQ(sys.delayedDeletes, std::vector<std::wstring>{kTempExe});
    EXPECT_EQ(sys.registryKeys.size(), 3u);
    EXPECT_TRUE(sys.FileExists(kDesktopLink));
}

TEST_F(UninstallerFixture, SecondChanceDeletesAgainAfterThePause) {
    // The installed program was still running at the first try.
    sys.undeletableFiles.insert(kExe);
    sys.onSleep = [&](std::uint32_t ms) {
        if (ms == 5000) sys.undeletableFiles.clear();
    };
    CUninstaller u(sys);
    u.Run(1);
    EXPECT_EQ(sys.sleeps, std::vector<std::uint32_t>{5000});
    EXPECT_EQ(sys.CallsStartingWith(L"DeleteFileW " + kExe).size(), 2u);
    EXPECT_EQ(sys.CallsStartingWith(L"RemoveDirectoryW").size(), 2u);
    EXPECT_FALSE(sys.FileExists(kExe));
    EXPECT_FALSE(sys.DirectoryExists(kInstallDir));
}

TEST_F(UninstallerFixture, UsersOwnFileKeepsTheFolder) {
    sys.AddFile(kInstallDir + L"notes.txt");
    CUninstaller u(sys);
    u.Run(1);
    EXPECT_FALSE(sys.FileExists(kExe));
    EXPECT_FALSE(sys.FileExists(kConfig));
    EXPECT_FALSE(sys.FileExists(kUninstallLink));
    EXPECT_TRUE(sys.FileExists(kInstallDir + L"notes.txt"));
    EXPECT_TRUE(sys.DirectoryExists(kInstallDir));
    EXPECT_EQ(sys.CallsStartingWith(L"RemoveDirectoryW").size(), 2u);  // no third attempt
    EXPECT_EQ(sys.delayedDeletes, std::vector<std::wstring>{kTempExe});
}

TEST_F(UninstallerFixture, MissingKeyLetsTheRestRun) {
    sys.registryKeys = {kSiblingKey};
    CUninstaller u(sys);
    EXPECT_FALSE(u.DeleteUninstallKey());
    EXPECT_TRUE(u.Run(0));
    EXPECT_FALSE(sys.FileExists(kDesktopLink));
    EXPECT_EQ(sys.CallsStartingWith(L"ShellExecuteW open").size(), 1u);
    EXPECT_EQ(sys.registryKeys, std::set<std::wstring>{kSiblingKey});
}

struct UnknownFolderCase {
    const char* what;
    bool noAppData;
    bool noTemp;
};

class UnknownFolders : public UninstallerFixture,
                       public ::testing::WithParamInterface<UnknownFolderCase> {};

TEST_P(UnknownFolders, LeaveTheUninstallerUninitializedAndTouchNothing) {
    if (GetParam().noAppData) sys.specialFolders.erase(26);
    if (GetParam().noTemp) sys.tempPath.clear();
    CUninstaller u(sys);
    EXPECT_EQ(u.Initialized, 0);
    const auto files = sys.files;
    for (int phase : {0, 1}) EXPECT_FALSE(u.Run(phase)) << GetParam().what;
    EXPECT_EQ(sys.files, files);
    EXPECT_EQ(sys.registryKeys.size(), 3u);
    for (const auto* touch : {L"DeleteFileW", L"RemoveDirectoryW", L"CopyFileW", L"ShellExecuteW",
                              L"SHDeleteKeyW", L"MoveFileExW"})
        EXPECT_TRUE(sys.CallsStartingWith(touch).empty()) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Folders, UnknownFolders,
                         ::testing::Values(UnknownFolderCase{"no app data", true, false},
                                           UnknownFolderCase{"no temp", false, true},
                                           UnknownFolderCase{"neither", true, true}));

struct ReleaseCase {
    const char* name;
    Release release;
    int pinned;
    bool unpins;
};

class ReleaseTable : public UninstallerFixture,
                     public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(ReleaseTable, ChoosesLocationsAndVerbs) {
    const ReleaseCase& c = GetParam();
    UseRelease(c.release);
    CUninstaller u(sys);
    EXPECT_EQ(u.UsesPinnedLocations, c.pinned) << c.name;
    u.RemoveShortcuts();

    EXPECT_FALSE(sys.FileExists(kDesktopLink)) << c.name;
    // Pinned links are never deleted directly; only the shell may unpin them.
    EXPECT_TRUE(sys.FileExists(kPinnedStartLink)) << c.name;
    EXPECT_TRUE(sys.FileExists(kPinnedTaskbarLink)) << c.name;
    // The classic links go only where there are no pins.
    EXPECT_EQ(sys.FileExists(kStartLink), c.pinned == 1) << c.name;
    EXPECT_EQ(sys.FileExists(kQuickLaunchLink), c.pinned == 1) << c.name;

    const auto loaded = [&](const std::wstring& link) {
        return std::count(sys.loadAttempts.begin(), sys.loadAttempts.end(), link) > 0;
    };
    EXPECT_EQ(loaded(kPinnedStartLink), c.pinned == 1) << c.name;
    EXPECT_EQ(loaded(kPinnedTaskbarLink), c.pinned == 1) << c.name;
    EXPECT_EQ(loaded(kStartLink), c.pinned == 0) << c.name;
    EXPECT_EQ(loaded(kQuickLaunchLink), c.pinned == 0) << c.name;

    const std::vector<std::wstring> expectedVerbs =
        c.unpins ? std::vector<std::wstring>{L"ShellExecuteW startunpin|" + kPinnedStartLink +
                                                 L"|(null)|(null)|0",
                                             L"ShellExecuteW taskbarunpin|" + kPinnedTaskbarLink +
                                                 L"|(null)|(null)|0"}
                 : std::vector<std::wstring>{};
    EXPECT_EQ(Verbs(), expectedVerbs) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Releases, ReleaseTable,
    ::testing::Values(ReleaseCase{"2000", Release::Win2000, 0, false},
                      ReleaseCase{"XP", Release::Xp, 0, false},
                      ReleaseCase{"unclassified server", Release::Server2012, 0, false},
                      ReleaseCase{"Vista", Release::Vista, 1, true},
                      ReleaseCase{"7", Release::Win7, 1, true},
                      ReleaseCase{"2008 R2", Release::Server2008, 1, false},
                      ReleaseCase{"8", Release::Win8, 1, true},
                      ReleaseCase{"8.1", Release::Win81, 1, false},
                      ReleaseCase{"10", Release::Win10, 1, false}));

TEST_F(UninstallerFixture, RefusedUnpinReportsFalse) {
    UseRelease(Release::Win7);
    sys.shellExecuteResult = 5;
    CUninstaller u(sys);
    EXPECT_FALSE(u.UnpinFromTaskbar());
    EXPECT_FALSE(u.UnpinFromStartMenu());
    sys.shellExecuteResult = 33;
    EXPECT_TRUE(u.UnpinFromTaskbar());
}

struct OwnershipCase {
    const char* what;
    std::wstring target;
    bool ours;
};

class Ownership : public UninstallerFixture,
                  public ::testing::WithParamInterface<OwnershipCase> {};

TEST_P(Ownership, DecidesWhetherTheDesktopLinkGoes) {
    sys.AddShortcut(kDesktopLink, GetParam().target);
    CUninstaller u(sys);
    EXPECT_EQ(IsOurShortcut(sys, u, kDesktopLink.c_str()), GetParam().ours) << GetParam().what;
    u.RemoveShortcuts();
    EXPECT_EQ(sys.FileExists(kDesktopLink), !GetParam().ours) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Ownership,
    ::testing::Values(
        OwnershipCase{"exact", kExe, true},
        OwnershipCase{"ASCII case differs", L"c:\\USERS\\ME\\appdata\\roaming\\CORVALESMGR\\corvalesmgr.EXE", true},
        OwnershipCase{"another program", L"C:\\Program Files\\Other\\other.exe", false},
        OwnershipCase{"unexpanded variable", L"%APPDATA%\\corvalesmgr\\corvalesmgr.exe", false},
        OwnershipCase{"trailing blank", kExe + L" ", false},
        OwnershipCase{"forward slashes", L"C:/Users/me/AppData/Roaming/corvalesmgr/corvalesmgr.exe", false},
        OwnershipCase{"short name", L"C:\\Users\\me\\AppData\\Roaming\\CORVAL~1\\corvalesmgr.exe", false},
        OwnershipCase{"empty target", L"", false}));

TEST(EqualIgnoringAsciiCase, FoldsOnlyAToZ) {
    EXPECT_TRUE(EqualIgnoringAsciiCase(L"AbC", L"aBc"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"É", L"é"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"Ω", L"ω"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"@", L"`"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"[", L"{"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"ab", L"abc"));
}

TEST_F(UninstallerFixture, NullOrEmptyLinkPathIsNotOurs) {
    CUninstaller u(sys);
    EXPECT_FALSE(IsOurShortcut(sys, u, nullptr));
    EXPECT_FALSE(IsOurShortcut(sys, u, L""));
}

TEST_F(UninstallerFixture, MissingLinksCostNoLoadsAndNoPauses) {
    for (const auto& link : {kDesktopLink, kStartLink, kQuickLaunchLink})
        sys.files.erase(link);
    CUninstaller u(sys);
    u.Run(0);
    EXPECT_TRUE(sys.loadAttempts.empty());
    EXPECT_TRUE(sys.sleeps.empty());
}

TEST_F(UninstallerFixture, UnreadableLinkStays) {
    sys.shortcutLoadFailures[kDesktopLink] = -1;
    CUninstaller u(sys);
    u.RemoveShortcuts();
    EXPECT_TRUE(sys.FileExists(kDesktopLink));
}

TEST_F(UninstallerFixture, ProgramsFolderLinksGoWhateverTheyPointAt) {
    sys.AddShortcut(kProgramsLaunchLink, L"C:\\Other\\other.exe");
    sys.AddShortcut(kProgramsUninstallLink, L"");
    CUninstaller u(sys);
    u.RemoveShortcuts();
    EXPECT_FALSE(sys.FileExists(kProgramsLaunchLink));
    EXPECT_FALSE(sys.FileExists(kProgramsUninstallLink));
    EXPECT_FALSE(sys.DirectoryExists(kProgramsFolder));
    EXPECT_TRUE(sys.DirectoryExists(kPrograms));
}

TEST_F(UninstallerFixture, ProgramsFolderWithAFileOfTheUsersStays) {
    sys.AddFile(kProgramsFolder + L"readme.txt");
    CUninstaller u(sys);
    u.RemoveShortcuts();
    EXPECT_TRUE(sys.DirectoryExists(kProgramsFolder));
    EXPECT_TRUE(sys.FileExists(kProgramsFolder + L"readme.txt"));
    EXPECT_FALSE(sys.FileExists(kProgramsLaunchLink));
}

TEST_F(UninstallerFixture, ProgramsFolderWithASubfolderStays) {
    sys.AddDirectory(kProgramsFolder + L"sub");
    CUninstaller u(sys);
    u.RemoveShortcuts();
    EXPECT_TRUE(sys.DirectoryExists(kProgramsFolder + L"sub"));
    EXPECT_FALSE(sys.FileExists(kProgramsUninstallLink));
}

TEST_F(UninstallerFixture, AbsentProgramsFolderIsAFailedRemovalOnly) {
    sys.files.erase(kProgramsLaunchLink);
    sys.files.erase(kProgramsUninstallLink);
    sys.directories.erase(StripTrailingBackslash(kProgramsFolder));
    CUninstaller u(sys);
    EXPECT_TRUE(u.RemoveShortcuts());
    EXPECT_EQ(sys.CallsStartingWith(L"RemoveDirectoryW"),
              std::vector<std::wstring>{L"RemoveDirectoryW " + kProgramsFolder});
    EXPECT_TRUE(sys.CallsStartingWith(L"DeleteFileW " + kProgramsFolder).empty());
}

TEST_F(UninstallerFixture, UnreportedShellFoldersAreSkipped) {
    sys.specialFolders.erase(16);
    sys.specialFolders.erase(11);
    sys.specialFolders.erase(2);
    CUninstaller u(sys);
    u.RemoveShortcuts();
    for (const auto& c : sys.calls) {
        // Nothing is looked for relative to the current directory.
        if (c.rfind(L"PathFileExistsW ", 0) == 0 || c.rfind(L"DeleteFileW ", 0) == 0 ||
            c.rfind(L"RemoveDirectoryW ", 0) == 0 || c.rfind(L"FindFirstFileW ", 0) == 0) {
            const std::wstring path = c.substr(c.find(L' ') + 1);
            EXPECT_EQ(path.rfind(L"C:\\", 0), 0u) << std::string(path.begin(), path.end());
        }
    }
    EXPECT_TRUE(sys.FileExists(kDesktopLink));
    EXPECT_FALSE(sys.FileExists(kQuickLaunchLink));
}

TEST_F(UninstallerFixture, UninstallShortcutGoesWhateverItPointsAt) {
    sys.AddShortcut(kUninstallLink, L"C:\\elsewhere.exe");
    CUninstaller u(sys);
    u.RemoveShortcuts();
    EXPECT_FALSE(sys.FileExists(kUninstallLink));
}

TEST_F(UninstallerFixture, DeleteIfExistsReportsOnlyRealFailures) {
    CUninstaller u(sys);
    EXPECT_TRUE(u.DeleteIfExists(kDesktop + L"\\absent.lnk"));
    EXPECT_TRUE(sys.CallsStartingWith(L"DeleteFileW").empty());
    sys.undeletableFiles.insert(kDesktopLink);
    EXPECT_FALSE(u.DeleteIfExists(kDesktopLink));
    sys.undeletableFiles.clear();
    EXPECT_TRUE(u.DeleteIfExists(kDesktopLink));
    EXPECT_FALSE(sys.FileExists(kDesktopLink));
}

}  // namespace
