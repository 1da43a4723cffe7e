// The one seam between the program and the operating system.
//
// Every Windows call the program makes goes through `System`. The real side
// (RealSystem.cpp, Windows builds only) forwards each method to the Windows
// function of the same name, with two exceptions that keep DLL planting out:
// SetDefaultDllDirectories is looked up in kernel32 at run time (older
// systems lack it), and the version functions come from version.dll loaded
// by full path from the system directory on first use (see RealSystem.h).
// Tests put an in-memory fake behind the same interface. The types here are
// portable stand-ins for the Windows ones so that the logic above the seam
// also builds on the host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace os {

using HResult = std::int32_t;
constexpr HResult kOk = 0;
constexpr HResult kFalse = 1;  // S_FALSE
constexpr HResult kFail = static_cast<HResult>(0x80004005u);

// Opaque handles: a COM interface pointer, an item-id list, a find handle.
using ComObject = void*;
using ItemIdList = void*;
using FindHandle = std::intptr_t;
constexpr FindHandle kInvalidFindHandle = -1;

constexpr std::size_t kMaxPath = 260;

struct Guid {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

inline bool operator==(const Guid& a, const Guid& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

constexpr Guid kClsidShellLink{0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr Guid kIidShellLinkW{0x000214F9, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr Guid kIidPersistFile{0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr std::uint32_t kCoInitApartmentThreaded = 0x2;
constexpr std::uint32_t kCoInitDisableOle1Dde = 0x4;
constexpr std::uint32_t kClsCtxInprocServer = 1;
constexpr std::uint32_t kStgmRead = 0;
constexpr std::uint32_t kSlgpRawPath = 4;

constexpr int kSwHide = 0;
constexpr int kSwShowNormal = 1;
constexpr int kSwShow = 5;

constexpr unsigned kMbOkCancelIconQuestion = 0x21;
constexpr int kIdOk = 1;

constexpr std::uint32_t kMoveFileDelayUntilReboot = 0x4;
constexpr std::uint32_t kLoadLibrarySearchSystem32 = 0x800;
constexpr long kErrorSuccess = 0;

// Layout of OSVERSIONINFOEXW (284 bytes); OSVERSIONINFOW is its first 276.
struct OsVersionInfoEx {
    std::uint32_t dwOSVersionInfoSize;
    std::uint32_t dwMajorVersion;
    std::uint32_t dwMinorVersion;
    std::uint32_t dwBuildNumber;
    std::uint32_t dwPlatformId;
    std::uint16_t szCSDVersion[128];
    std::uint16_t wServicePackMajor;
    std::uint16_t wServicePackMinor;
    std::uint16_t wSuiteMask;
    std::uint8_t wProductType;
    std::uint8_t wReserved;
};
static_assert(sizeof(OsVersionInfoEx) == 284, "OSVERSIONINFOEXW layout");
constexpr std::uint32_t kOsVersionInfoExSize = 284;
constexpr std::uint32_t kOsVersionInfoSize = 276;

// Layout of VS_FIXEDFILEINFO.
struct FixedFileInfo {
    std::uint32_t dwSignature;
    std::uint32_t dwStrucVersion;
    std::uint32_t dwFileVersionMS;
    std::uint32_t dwFileVersionLS;
    std::uint32_t dwProductVersionMS;
    std::uint32_t dwProductVersionLS;
    std::uint32_t dwFileFlagsMask;
    std::uint32_t dwFileFlags;
    std::uint32_t dwFileOS;
    std::uint32_t dwFileType;
    std::uint32_t dwFileSubtype;
    std::uint32_t dwFileDateMS;
    std::uint32_t dwFileDateLS;
};
static_assert(sizeof(FixedFileInfo) == 52, "VS_FIXEDFILEINFO layout");

// The part of WIN32_FIND_DATAW the program reads.
struct FindData {
    wchar_t cFileName[kMaxPath];
};

class System {
public:
    virtual ~System() = default;

    // Process
    virtual const wchar_t* GetCommandLineW() = 0;
    // Looks SetDefaultDllDirectories up in kernel32 at run time and calls it;
    // false when the system lacks it or refuses.
    virtual bool SetDefaultDllDirectories(std::uint32_t flags) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;

    // Shell and user interface
    virtual std::intptr_t ShellExecuteW(const wchar_t* verb, const wchar_t* file,
                                        const wchar_t* parameters, const wchar_t* directory,
                                        int showCommand) = 0;
    virtual int MessageBoxW(const wchar_t* text, const wchar_t* caption, unsigned type) = 0;

    // COM
    virtual HResult CoInitialize() = 0;
    virtual HResult CoInitializeEx(std::uint32_t flags) = 0;
    virtual void CoUninitialize() = 0;
    virtual HResult CoCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid,
                                     ComObject* object) = 0;
    virtual HResult QueryInterface(ComObject object, const Guid& iid, ComObject* result) = 0;
    virtual std::uint32_t Release(ComObject object) = 0;
    virtual HResult PersistFileLoad(ComObject persistFile, const wchar_t* path,
                                    std::uint32_t mode) = 0;
    virtual HResult ShellLinkGetPath(ComObject shellLink, wchar_t* buffer, int bufferLength,
                                     std::uint32_t flags) = 0;
    virtual HResult MallocFree(ComObject malloc, void* block) = 0;

    // Shell folders and paths
    virtual HResult SHGetSpecialFolderLocation(int csidl, ItemIdList* list) = 0;
    virtual bool SHGetPathFromIDListW(ItemIdList list, wchar_t* buffer) = 0;
    virtual HResult SHGetMalloc(ComObject* malloc) = 0;
    virtual wchar_t* PathAddBackslashW(wchar_t* path) = 0;
    virtual bool PathFileExistsW(const wchar_t* path) = 0;
    virtual long SHDeleteKeyCurrentUser(const wchar_t* subKey) = 0;

    // Files and system directories
    virtual bool CopyFileW(const wchar_t* from, const wchar_t* to, bool failIfExists) = 0;
    virtual bool DeleteFileW(const wchar_t* path) = 0;
    virtual bool RemoveDirectoryW(const wchar_t* path) = 0;
    virtual bool MoveFileExW(const wchar_t* from, const wchar_t* to, std::uint32_t flags) = 0;
    virtual FindHandle FindFirstFileW(const wchar_t* pattern, FindData* data) = 0;
    virtual bool FindNextFileW(FindHandle handle, FindData* data) = 0;
    virtual bool FindClose(FindHandle handle) = 0;
    virtual std::uint32_t GetTempPathW(std::uint32_t length, wchar_t* buffer) = 0;
    virtual std::uint32_t GetSystemDirectoryW(wchar_t* buffer, std::uint32_t length) = 0;

    // Version information
    virtual bool GetVersionExW(OsVersionInfoEx* info) = 0;
    virtual std::uint32_t GetFileVersionInfoSizeW(const wchar_t* path, std::uint32_t* handle) = 0;
    virtual bool GetFileVersionInfoW(const wchar_t* path, std::uint32_t handle,
                                     std::uint32_t length, void* data) = 0;
    virtual bool VerQueryValueW(const void* block, const wchar_t* subBlock, void** buffer,
                                std::uint32_t* length) = 0;
};

}  // namespace os
