#include "os/RealSystem.h"

#include <windows.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <string>

namespace os {

static_assert(sizeof(OSVERSIONINFOEXW) == sizeof(OsVersionInfoEx), "version record");
static_assert(sizeof(VS_FIXEDFILEINFO) == sizeof(FixedFileInfo), "fixed file info");
static_assert(sizeof(GUID) == sizeof(Guid), "guid");

namespace {

const GUID& ToGuid(const Guid& g) { return *reinterpret_cast<const GUID*>(&g); }

template <typename Fn>
Fn ProcAs(void* proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

void CopyFindData(const WIN32_FIND_DATAW& from, FindData* to) {
    std::memcpy(to->cFileName, from.cFileName, sizeof(to->cFileName));
}

using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

}  // namespace

RealSystem::RealSystem() = default;

RealSystem::~RealSystem() {
    if (versionModule_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(versionModule_));
}

const wchar_t* RealSystem::GetCommandLineW() { return ::GetCommandLineW(); }

bool RealSystem::SetDefaultDllDirectories(std::uint32_t flags) {
    // Missing before Windows 8 and on Windows 7 without KB2533623.
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return false;
    void* proc = reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories"));
    if (proc == nullptr) return false;
    return ProcAs<SetDefaultDllDirectoriesFn>(proc)(flags) != FALSE;
}

void RealSystem::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::intptr_t RealSystem::ShellExecuteW(const wchar_t* verb, const wchar_t* file,
                                        const wchar_t* parameters, const wchar_t* directory,
                                        int showCommand) {
    return reinterpret_cast<std::intptr_t>(
        ::ShellExecuteW(nullptr, verb, file, parameters, directory, showCommand));
}

int RealSystem::MessageBoxW(const wchar_t* text, const wchar_t* caption, unsigned type) {
    return ::MessageBoxW(nullptr, text, caption, type);
}

HResult RealSystem::CoInitialize() { return ::CoInitialize(nullptr); }

HResult RealSystem::CoInitializeEx(std::uint32_t flags) { return ::CoInitializeEx(nullptr, flags); }

void RealSystem::CoUninitialize() { ::CoUninitialize(); }

HResult RealSystem::CoCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid,
                                     ComObject* object) {
    return ::CoCreateInstance(ToGuid(clsid), nullptr, context, ToGuid(iid), object);
}

HResult RealSystem::QueryInterface(ComObject object, const Guid& iid, ComObject* result) {
    return static_cast<IUnknown*>(object)->QueryInterface(ToGuid(iid), result);
}

std::uint32_t RealSystem::Release(ComObject object) {
    return static_cast<IUnknown*>(object)->Release();
}

HResult RealSystem::PersistFileLoad(ComObject persistFile, const wchar_t* path,
                                    std::uint32_t mode) {
    return static_cast<IPersistFile*>(persistFile)->Load(path, mode);
}

HResult RealSystem::ShellLinkGetPath(ComObject shellLink, wchar_t* buffer, int bufferLength,
                                     std::uint32_t flags) {
    return static_cast<IShellLinkW*>(shellLink)->GetPath(buffer, bufferLength, nullptr, flags);
}

HResult RealSystem::MallocFree(ComObject malloc, void* block) {
    static_cast<IMalloc*>(malloc)->Free(block);
    return S_OK;
}

HResult RealSystem::SHGetSpecialFolderLocation(int csidl, ItemIdList* list) {
    return ::SHGetSpecialFolderLocation(nullptr, csidl, reinterpret_cast<LPITEMIDLIST*>(list));
}

bool RealSystem::SHGetPathFromIDListW(ItemIdList list, wchar_t* buffer) {
    return ::SHGetPathFromIDListW(static_cast<LPCITEMIDLIST>(list), buffer) != FALSE;
}

HResult RealSystem::SHGetMalloc(ComObject* malloc) {
    return ::SHGetMalloc(reinterpret_cast<IMalloc**>(malloc));
}

wchar_t* RealSystem::PathAddBackslashW(wchar_t* path) { return ::PathAddBackslashW(path); }

bool RealSystem::PathFileExistsW(const wchar_t* path) { return ::PathFileExistsW(path) != FALSE; }

long RealSystem::SHDeleteKeyCurrentUser(const wchar_t* subKey) {
    return static_cast<long>(::SHDeleteKeyW(HKEY_CURRENT_USER, subKey));
}

bool RealSystem::CopyFileW(const wchar_t* from, const wchar_t* to, bool failIfExists) {
    return ::CopyFileW(from, to, failIfExists ? TRUE : FALSE) != FALSE;
}

bool RealSystem::DeleteFileW(const wchar_t* path) { return ::DeleteFileW(path) != FALSE; }

bool RealSystem::RemoveDirectoryW(const wchar_t* path) {
    return ::RemoveDirectoryW(path) != FALSE;
}

bool RealSystem::MoveFileExW(const wchar_t* from, const wchar_t* to, std::uint32_t flags) {
    return ::MoveFileExW(from, to, flags) != FALSE;
}

FindHandle RealSystem::FindFirstFileW(const wchar_t* pattern, FindData* data) {
    WIN32_FIND_DATAW found{};
    HANDLE handle = ::FindFirstFileW(pattern, &found);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidFindHandle;
    CopyFindData(found, data);
    return reinterpret_cast<FindHandle>(handle);
}

bool RealSystem::FindNextFileW(FindHandle handle, FindData* data) {
    WIN32_FIND_DATAW found{};
    if (!::FindNextFileW(reinterpret_cast<HANDLE>(handle), &found)) return false;
    CopyFindData(found, data);
    return true;
}

bool RealSystem::FindClose(FindHandle handle) {
    return ::FindClose(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

std::uint32_t RealSystem::GetTempPathW(std::uint32_t length, wchar_t* buffer) {
    return ::GetTempPathW(length, buffer);
}

std::uint32_t RealSystem::GetSystemDirectoryW(wchar_t* buffer, std::uint32_t length) {
    return ::GetSystemDirectoryW(buffer, length);
}

bool RealSystem::GetVersionExW(OsVersionInfoEx* info) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)) != FALSE;
#pragma GCC diagnostic pop
}

// version.dll is not a KnownDLL, so it is not imported: a bare name could
// resolve to a copy beside the program. Load the system's own by full path.
bool RealSystem::LoadVersionLibrary() {
    if (versionModule_ != nullptr) return true;
    wchar_t directory[kMaxPath] = {};
    const UINT length = ::GetSystemDirectoryW(directory, kMaxPath);
    if (length == 0 || length >= kMaxPath) return false;
    std::wstring path(directory, length);
    if (path.back() != L'\\') path += L'\\';
    path += L"version.dll";
    // Its own imports come from System32 too. Systems without the search
    // flags reject them; there the altered order looks beside the DLL first.
    HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER)
        module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return false;
    getFileVersionInfoSize_ =
        reinterpret_cast<void*>(::GetProcAddress(module, "GetFileVersionInfoSizeW"));
    getFileVersionInfo_ = reinterpret_cast<void*>(::GetProcAddress(module, "GetFileVersionInfoW"));
    verQueryValue_ = reinterpret_cast<void*>(::GetProcAddress(module, "VerQueryValueW"));
    if (getFileVersionInfoSize_ == nullptr || getFileVersionInfo_ == nullptr ||
        verQueryValue_ == nullptr) {
        ::FreeLibrary(module);
        getFileVersionInfoSize_ = getFileVersionInfo_ = verQueryValue_ = nullptr;
        return false;
    }
    versionModule_ = module;
    return true;
}

std::uint32_t RealSystem::GetFileVersionInfoSizeW(const wchar_t* path, std::uint32_t* handle) {
    if (!LoadVersionLibrary()) return 0;
    DWORD h = 0;
    const DWORD size = ProcAs<GetFileVersionInfoSizeWFn>(getFileVersionInfoSize_)(path, &h);
    *handle = h;
    return size;
}

bool RealSystem::GetFileVersionInfoW(const wchar_t* path, std::uint32_t handle,
                                     std::uint32_t length, void* data) {
    if (!LoadVersionLibrary()) return false;
    return ProcAs<GetFileVersionInfoWFn>(getFileVersionInfo_)(path, handle, length, data) != FALSE;
}

bool RealSystem::VerQueryValueW(const void* block, const wchar_t* subBlock, void** buffer,
                                std::uint32_t* length) {
    if (!LoadVersionLibrary()) return false;
    UINT len = 0;
    const BOOL ok = ProcAs<VerQueryValueWFn>(verQueryValue_)(block, subBlock, buffer, &len);
    *length = len;
    return ok != FALSE;
}

}  // namespace os
