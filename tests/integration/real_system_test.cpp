// The program's shell, folder and version helpers over the real system
// rather than the in-memory one: what Windows (here Wine) really answers.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "os/RealSystem.h"
#include "sysinfo/ShellExecute.h"
#include "sysinfo/ShellPaths.h"
#include "sysinfo/WindowsVersion.h"

namespace fs = std::filesystem;

namespace {

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring ExeDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path().wstring() + L"\\";
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool FitsAnsiCodePage(const std::wstring& text) {
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr,
                        &lossy);
    return !lossy;
}

// Saved through the system's own shell link object, as an installer would.
void WriteShortcut(const std::wstring& link, const std::wstring& target) {
    ASSERT_GE(CoInitialize(nullptr), 0);
    IShellLinkW* shellLink = nullptr;
    IPersistFile* file = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&shellLink));
    if (SUCCEEDED(hr)) hr = shellLink->SetPath(target.c_str());
    if (SUCCEEDED(hr))
        hr = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) hr = file->Save(link.c_str(), TRUE);
    if (file != nullptr) file->Release();
    if (shellLink != nullptr) shellLink->Release();
    CoUninitialize();
    ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
}

// A folder of the test's own under the system's temp folder.
class RealSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        root_ = fs::path(temp) / (L"corvales-it-" + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Ends in a backslash, as the helpers expect of folders.
    std::wstring Folder(const std::wstring& name) const {
        return (root_ / name).wstring() + L"\\";
    }
    std::wstring File(const std::wstring& name, const std::string& bytes = "") const {
        const fs::path path = root_ / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.wstring();
    }

    os::RealSystem sys;
    fs::path root_;
};

struct FolderCase {
    const char* name;
    std::wstring (*get)(os::System&);
};

TEST_F(RealSystemTest, SpecialFoldersEndInOneBackslashAndExist) {
    const FolderCase cases[] = {
        {"AppData", GetAppDataPath},
        {"Desktop", GetDesktopPath},
        {"Programs", GetProgramsPath},
        {"StartMenu", GetStartMenuPath},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = c.get(sys);
        ASSERT_GE(path.size(), 2u);
        EXPECT_EQ(path.back(), L'\\');
        EXPECT_NE(path[path.size() - 2], L'\\');
        EXPECT_TRUE(IsDirectory(path));
    }
}

TEST_F(RealSystemTest, TempAndSystemFoldersEndInASeparatorAndExist) {
    for (const std::wstring& path : {GetTempDirectoryPath(sys), GetSystemDirectoryPath(sys)}) {
        SCOPED_TRACE(testing::PrintToString(path));
        ASSERT_GE(path.size(), 2u);
        EXPECT_TRUE(path.back() == L'\\' || path.back() == L'/');
        EXPECT_NE(path[path.size() - 2], L'\\');
        EXPECT_TRUE(IsDirectory(path));
    }
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(GetSystemDirectoryPath(sys), std::wstring(system) + L"\\");
    EXPECT_EQ(GetKernelFilePath(sys), GetSystemDirectoryPath(sys) + L"ntoskrnl.exe");
}

TEST_F(RealSystemTest, ShortcutGivesBackTheTargetItWasSavedWith) {
    const std::wstring targets[] = {
        File(L"Some Program\\run me.exe"),
        File(L"网址大全\\桌面 程序.exe"),
    };
    int n = 0;
    for (const auto& target : targets) {
        SCOPED_TRACE(testing::PrintToString(target));
        // Wine keeps only the ANSI form of the path in a shortcut, where
        // Windows also stores the Unicode one.
        if (RunningUnderWine() && !FitsAnsiCodePage(target)) {
            std::printf("skipped: target outside code page %u under Wine\n", GetACP());
            continue;
        }
        const std::wstring link = (root_ / (std::to_wstring(++n) + L"快捷方式.lnk")).wstring();
        WriteShortcut(link, target);
        EXPECT_EQ(GetShortcutTarget(sys, link), target);
    }
}

// The run under a Chinese system locale says which code page it set up, so
// the Chinese shortcut above cannot be skipped there unnoticed.
TEST(CodePage, IsTheOneTheRunAskedFor) {
    const char* expected = std::getenv("CORVALES_EXPECT_ACP");
    if (expected == nullptr) GTEST_SKIP() << "no code page asked for";
    EXPECT_EQ(GetACP(), static_cast<UINT>(std::strtoul(expected, nullptr, 10)));
}

TEST_F(RealSystemTest, ShortcutThatCannotBeLoadedGivesNoTarget) {
    const std::wstring missing = (root_ / L"absent.lnk").wstring();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetShortcutTarget(sys, missing), L"");
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    // Ten tries, a tenth of a second apart, before giving up.
    EXPECT_GE(waited.count(), 0.9);
    EXPECT_LT(waited.count(), 5.0);

    const std::wstring garbage = File(L"garbage.lnk", std::string("\x4c\0\0\0not a link", 14) +
                                                          std::string(200, '\xa5'));
    EXPECT_EQ(GetShortcutTarget(sys, garbage), L"");
}

TEST_F(RealSystemTest, FolderHasEntriesCountsEverythingButDotEntries) {
    struct Case {
        const char* name;
        std::function<std::wstring()> make;
        bool expected;
    };
    const Case cases[] = {
        {"hidden file only",
         [&] {
             const std::wstring file = File(L"hidden\\desktop.ini", "x");
             EXPECT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
             return Folder(L"hidden");
         },
         true},
        {"empty subfolder only",
         [&] {
             fs::create_directories(root_ / L"outer" / L"inner");
             return Folder(L"outer");
         },
         true},
        {"nothing",
         [&] {
             fs::create_directories(root_ / L"empty");
             return Folder(L"empty");
         },
         false},
        {"missing", [&] { return Folder(L"absent"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FolderHasEntries(sys, c.make()), c.expected);
    }
}

TEST_F(RealSystemTest, HelpersLeaveTheThreadWithoutCom) {
    // Otherwise the check below could not tell.
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();

    const std::wstring link = (root_ / L"balanced.lnk").wstring();
    WriteShortcut(link, File(L"target.exe"));
    GetAppDataPath(sys);
    GetDesktopPath(sys);
    GetProgramsPath(sys);
    GetStartMenuPath(sys);
    GetShortcutTarget(sys, link);
    GetShortcutTarget(sys, (root_ / L"absent.lnk").wstring());
    // A program that is not there: the shell refuses without starting anything.
    EXPECT_LE(ShellExecuteInApartment(sys, L"open", (root_ / L"absent.exe").c_str(), nullptr,
                                      nullptr, SW_HIDE),
              32);

    const HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr)) CoUninitialize();
    EXPECT_EQ(hr, S_OK);
}

// The apartment the shell calls get: the system accepts the flags, a second
// entry on the same thread nests, and closing both leaves the thread
// without COM.
TEST(ShellCallApartment, OpensNestsAndCloses) {
    os::RealSystem sys;
    ASSERT_EQ(sys.CoInitializeEx(kShellExecuteComFlags), S_OK);
    EXPECT_EQ(sys.CoInitializeEx(kShellExecuteComFlags), S_FALSE);
    sys.CoUninitialize();
    sys.CoUninitialize();
    // Any kind of apartment can be entered again.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    EXPECT_EQ(hr, S_OK);
}

// On a thread already in a multithreaded apartment the shell call's entry
// fails. The call is still made, and the thread keeps its apartment and its
// one reference: uninitialising after the failure would take that away.
TEST(ShellCallApartment, LeavesAMultithreadedThreadAsItWas) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    os::RealSystem sys;
    EXPECT_EQ(sys.CoInitializeEx(kShellExecuteComFlags),
              static_cast<os::HResult>(RPC_E_CHANGED_MODE));
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring absent = std::wstring(temp) + L"corvales-absent-program.exe";
    EXPECT_LE(ShellExecuteInApartment(sys, L"open", absent.c_str(), nullptr, nullptr, SW_HIDE),
              32);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    const HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr)) CoUninitialize();
    EXPECT_EQ(hr, S_OK);
}

struct VersionCase {
    const wchar_t* file;
    bool read;
    std::uint32_t high;
    std::uint32_t low;
};

class FileVersionTest : public ::testing::TestWithParam<VersionCase> {
protected:
    os::RealSystem sys;
};

TEST_P(FileVersionTest, ReadsTheFixedVersionRecord) {
    const VersionCase& c = GetParam();
    // Stale values must not survive a failed read.
    std::uint32_t high = 0xDEADBEEF, low = 0xDEADBEEF;
    EXPECT_EQ(ReadFileVersion(sys, ExeDirectory() + c.file, high, low), c.read);
    EXPECT_EQ(high, c.high);
    EXPECT_EQ(low, c.low);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileVersionTest,
    ::testing::Values(VersionCase{L"version_6_2_9200_0.dll", true, 0x00060002, 0x23F00000},
                      VersionCase{L"version_6_3_9600_0.dll", true, 0x00060003, 0x25800000},
                      VersionCase{L"version_6_4_9841_0.dll", true, 0x00060004, 0x26710000},
                      VersionCase{L"version_10_0_19045_0.dll", true, 0x000A0000, 0x4A650000},
                      VersionCase{L"version_none.dll", false, 0, 0},
                      VersionCase{L"absent.dll", false, 0, 0}));

}  // namespace
