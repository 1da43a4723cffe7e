#pragma once

#include "os/System.h"

namespace os {

// The seam's real side: each method is the Windows call of the same name,
// with two exceptions:
// - SetDefaultDllDirectories is looked up in kernel32 at run time and
//   reports false where the system lacks it (before Windows 8, unless
//   KB2533623 added it), so that the program still starts there;
// - the three version functions are not imported: when one is first called,
//   version.dll is loaded by its full path in the system directory (its own
//   imports from System32 where the system knows that flag, else with the
//   altered search order) and kept until the object goes; while it cannot be
//   loaded they fail as for a file without a version record.
class RealSystem final : public System {
public:
    RealSystem();
    ~RealSystem() override;
    RealSystem(const RealSystem&) = delete;
    RealSystem& operator=(const RealSystem&) = delete;

    const wchar_t* GetCommandLineW() override;
    bool SetDefaultDllDirectories(std::uint32_t flags) override;
    void Sleep(std::uint32_t milliseconds) override;
    std::intptr_t ShellExecuteW(const wchar_t* verb, const wchar_t* file,
                                const wchar_t* parameters, const wchar_t* directory,
                                int showCommand) override;
    int MessageBoxW(const wchar_t* text, const wchar_t* caption, unsigned type) override;
    HResult CoInitialize() override;
    HResult CoInitializeEx(std::uint32_t flags) override;
    void CoUninitialize() override;
    HResult CoCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid,
                             ComObject* object) override;
    HResult QueryInterface(ComObject object, const Guid& iid, ComObject* result) override;
    std::uint32_t Release(ComObject object) override;
    HResult PersistFileLoad(ComObject persistFile, const wchar_t* path,
                            std::uint32_t mode) override;
    HResult ShellLinkGetPath(ComObject shellLink, wchar_t* buffer, int bufferLength,
                             std::uint32_t flags) override;
    HResult MallocFree(ComObject malloc, void* block) override;
    HResult SHGetSpecialFolderLocation(int csidl, ItemIdList* list) override;
    bool SHGetPathFromIDListW(ItemIdList list, wchar_t* buffer) override;
    HResult SHGetMalloc(ComObject* malloc) override;
    wchar_t* PathAddBackslashW(wchar_t* path) override;
    bool PathFileExistsW(const wchar_t* path) override;
    long SHDeleteKeyCurrentUser(const wchar_t* subKey) override;
    bool CopyFileW(const wchar_t* from, const wchar_t* to, bool failIfExists) override;
    bool DeleteFileW(const wchar_t* path) override;
    bool RemoveDirectoryW(const wchar_t* path) override;
    bool MoveFileExW(const wchar_t* from, const wchar_t* to, std::uint32_t flags) override;
    FindHandle FindFirstFileW(const wchar_t* pattern, FindData* data) override;
    bool FindNextFileW(FindHandle handle, FindData* data) override;
    bool FindClose(FindHandle handle) override;
    std::uint32_t GetTempPathW(std::uint32_t length, wchar_t* buffer) override;
    std::uint32_t GetSystemDirectoryW(wchar_t* buffer, std::uint32_t length) override;
    bool GetVersionExW(OsVersionInfoEx* info) override;
    std::uint32_t GetFileVersionInfoSizeW(const wchar_t* path, std::uint32_t* handle) override;
    bool GetFileVersionInfoW(const wchar_t* path, std::uint32_t handle, std::uint32_t length,
                             void* data) override;
    bool VerQueryValueW(const void* block, const wchar_t* subBlock, void** buffer,
                        std::uint32_t* length) override;

private:
    bool LoadVersionLibrary();

    void* versionModule_ = nullptr;
    void* getFileVersionInfoSize_ = nullptr;
    void* getFileVersionInfo_ = nullptr;
    void* verQueryValue_ = nullptr;
};

}  // namespace os
