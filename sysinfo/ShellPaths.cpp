#include "sysinfo/ShellPaths.h"

#include "sysinfo/ComScope.h"

namespace {

// A zero-filled MAX_PATH buffer for the system to write into.
struct PathBuffer {
    wchar_t data[os::kMaxPath] = {};
    bool empty() const { return data[0] == L'\0'; }
    std::wstring str() const { return std::wstring(data); }
};

// Frees an item-id list through the shell's allocator.
class ItemIdListRef {
public:
    explicit ItemIdListRef(os::System& sys) : sys_(sys) {}
    ~ItemIdListRef() {
        ComRef malloc(sys_);
        if (sys_.SHGetMalloc(malloc.put()) >= 0 && malloc) sys_.MallocFree(malloc.get(), list_);
    }
    ItemIdListRef(const ItemIdListRef&) = delete;
    ItemIdListRef& operator=(const ItemIdListRef&) = delete;

    os::ItemIdList* put() { return &list_; }
    os::ItemIdList get() const { return list_; }

private:
    os::System& sys_;
    os::ItemIdList list_ = nullptr;
};

class FindScope {
public:
    FindScope(os::System& sys, os::FindHandle handle) : sys_(sys), handle_(handle) {}
    ~FindScope() {
        if (valid()) sys_.FindClose(handle_);
    }
    FindScope(const FindScope&) = delete;
    FindScope& operator=(const FindScope&) = delete;
    bool valid() const { return handle_ != os::kInvalidFindHandle; }
    os::FindHandle get() const { return handle_; }

private:
    os::System& sys_;
    os::FindHandle handle_;
};

}  // namespace

std::wstring GetSpecialFolderPath(os::System& sys, int csidl) {
    std::wstring result;
    ComScope com(sys);
    PathBuffer buffer;
    {
        ItemIdListRef list(sys);
        sys.SHGetSpecialFolderLocation(csidl, list.put());
        if (list.get() != nullptr) {
            sys.SHGetPathFromIDListW(list.get(), buffer.data);
            if (!buffer.empty()) {
                sys.PathAddBackslashW(buffer.data);
                result = buffer.str();
            }
        }
    }
    return result;
}

std::wstring GetAppDataPath(os::System& sys) { return GetSpecialFolderPath(sys, kCsidlAppData); }
std::wstring GetDesktopPath(os::System& sys) {
    return GetSpecialFolderPath(sys, kCsidlDesktopDirectory);
}
std::wstring GetProgramsPath(os::System& sys) {
    return GetSpecialFolderPath(sys, kCsidlPrograms);
}
std::wstring GetStartMenuPath(os::System& sys) {
    return GetSpecialFolderPath(sys, kCsidlStartMenu);
}

std::wstring GetTempDirectoryPath(os::System& sys) {
    PathBuffer buffer;
    if (sys.GetTempPathW(os::kMaxPath, buffer.data) == 0 || buffer.empty()) return std::wstring();
    sys.PathAddBackslashW(buffer.data);
    return buffer.str();
}

std::wstring GetSystemDirectoryPath(os::System& sys) {
    PathBuffer buffer;
    sys.GetSystemDirectoryW(buffer.data, os::kMaxPath);
    std::wstring path = buffer.str();
    EnsureTrailingSeparator(path);
    return path;
}

void EnsureTrailingSeparator(std::wstring& path) {
    if (path.empty() || (path.back() != L'\\' && path.back() != L'/')) path += L'\\';
}

std::wstring GetShortcutTarget(os::System& sys, const std::wstring& linkPath) {
    std::wstring result;
    PathBuffer buffer;
    ComScope com(sys);
    ComRef shellLink(sys);
    ComRef persistFile(sys);
    if (sys.CoCreateInstance(os::kClsidShellLink, os::kClsCtxInprocServer, os::kIidShellLinkW,
                             shellLink.put()) < 0 ||
        !shellLink)
        return result;
    if (sys.QueryInterface(shellLink.get(), os::kIidPersistFile, persistFile.put()) < 0 ||
        !persistFile)
        return result;

    bool loaded = false;
    for (int attempt = 0; attempt < kShortcutLoadAttempts && !loaded; ++attempt) {
        loaded = sys.PersistFileLoad(persistFile.get(), linkPath.c_str(), os::kStgmRead) >= 0;
        // A shortcut still being written may load a moment later.
        if (!loaded) sys.Sleep(kShortcutLoadPauseMs);
    }
    if (loaded) {
        sys.ShellLinkGetPath(shellLink.get(), buffer.data, static_cast<int>(os::kMaxPath),
                             os::kSlgpRawPath);
        result = buffer.str();
    }
    return result;
}

bool FolderHasEntries(os::System& sys, const std::wstring& folderPath) {
    const std::wstring pattern = folderPath + L"*.*";
    os::FindData data{};
    FindScope search(sys, sys.FindFirstFileW(pattern.c_str(), &data));
    if (!search.valid()) return false;
    for (;;) {
        const std::wstring name(data.cFileName);
        if (name != L"." && name != L"..") return true;
        data = os::FindData{};
        if (!sys.FindNextFileW(search.get(), &data)) return false;
    }
}
