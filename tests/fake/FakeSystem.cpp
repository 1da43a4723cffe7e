#include "fake/FakeSystem.h"

#include <cstring>

namespace {

std::wstring Str(const wchar_t* s) { return s == nullptr ? std::wstring(L"(null)") : s; }

std::wstring ParentOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

constexpr os::HResult kNoInterface = static_cast<os::HResult>(0x80004002u);
constexpr os::HResult kClassNotRegistered = static_cast<os::HResult>(0x80040154u);
constexpr os::HResult kFileNotFound = static_cast<os::HResult>(0x80070002u);

}  // namespace

std::wstring StripTrailingBackslash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

FakeSystem::FakeSystem() { SetVersion(2, 5, 1, 1, 2600); }

FakeSystem::~FakeSystem() = default;

void FakeSystem::SetVersion(std::uint32_t platform, std::uint32_t major, std::uint32_t minor,
                            std::uint8_t productType, std::uint32_t build) {
    versionRecord = os::OsVersionInfoEx{};
    versionRecord.dwPlatformId = platform;
    versionRecord.dwMajorVersion = major;
    versionRecord.dwMinorVersion = minor;
    versionRecord.dwBuildNumber = build;
    versionRecord.wProductType = productType;
}

void FakeSystem::AddDirectory(const std::wstring& path) {
    std::wstring dir = StripTrailingBackslash(path);
    while (!dir.empty() && dir.find(L'\\') != std::wstring::npos) {
        directories.insert(dir);
        dir = ParentOf(dir);
    }
    if (!dir.empty()) directories.insert(dir);
}

void FakeSystem::AddFile(const std::wstring& path, const std::string& contents) {
    AddDirectory(ParentOf(path));
    files[path] = contents;
}

void FakeSystem::AddShortcut(const std::wstring& path, const std::wstring& target) {
    AddFile(path, "lnk");
    shortcutTargets[path] = target;
}

bool FakeSystem::FileExists(const std::wstring& path) const { return files.count(path) != 0; }

bool FakeSystem::DirectoryExists(const std::wstring& path) const {
    return directories.count(StripTrailingBackslash(path)) != 0;
}

std::vector<std::wstring> FakeSystem::CallsStartingWith(const std::wstring& prefix) const {
    std::vector<std::wstring> out;
    for (const auto& c : calls)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}

std::wstring FakeSystem::ShellExecuteApartmentFaults(std::uint32_t flags) const {
    std::wstring faults;
    const std::wstring init = L"CoInitializeEx " + std::to_wstring(flags);
    std::size_t seen = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].rfind(L"ShellExecuteW ", 0) != 0) continue;
        const std::wstring which = L"[" + calls[i] + L"] ";
        if (i == 0 || calls[i - 1] != init) faults += which + L"not right after " + init + L"; ";
        if (i + 1 >= calls.size() || calls[i + 1] != L"CoUninitialize")
            faults += which + L"not followed by CoUninitialize; ";
        if (seen >= comInitsAtShellExecute.size() ||
            comInitsAtShellExecute[seen] != std::vector<std::uint32_t>{flags})
            faults += which + L"not inside exactly one initialisation with those flags; ";
        ++seen;
    }
    if (comDepth != 0) faults += L"left " + std::to_wstring(comDepth) + L" initialised; ";
    if (uninitializedWithoutInit) faults += L"uninitialised with nothing initialised; ";
    return faults;
}

const wchar_t* FakeSystem::GetCommandLineW() {
    return commandLine ? commandLine->c_str() : nullptr;
}

bool FakeSystem::SetDefaultDllDirectories(std::uint32_t flags) {
    calls.push_back(L"SetDefaultDllDirectories");
    if (!hasSetDefaultDllDirectories) return false;
    dllDirectoryFlags = flags;
    return true;
}

void FakeSystem::Sleep(std::uint32_t milliseconds) {
    sleeps.push_back(milliseconds);
    calls.push_back(L"Sleep " + std::to_wstring(milliseconds));
    if (onSleep) onSleep(milliseconds);
}

std::intptr_t FakeSystem::ShellExecuteW(const wchar_t* verb, const wchar_t* file,
                                        const wchar_t* parameters, const wchar_t* directory,
                                        int showCommand) {
    calls.push_back(L"ShellExecuteW " + Str(verb) + L"|" + Str(file) + L"|" + Str(parameters) +
                    L"|" + Str(directory) + L"|" + std::to_wstring(showCommand));
    comInitsAtShellExecute.push_back(openComInits);
    if (onShellExecute) onShellExecute(Str(verb), Str(file));
    return shellExecuteResult;
}

int FakeSystem::MessageBoxW(const wchar_t* text, const wchar_t* caption, unsigned type) {
    calls.push_back(L"MessageBoxW " + Str(text) + L"|" + Str(caption) + L"|" +
                    std::to_wstring(type));
    return messageBoxAnswer;
}

void FakeSystem::NoteComUse() {
    if (comDepth <= 0) comUsedOutsideApartment = true;
}

os::HResult FakeSystem::OpenComInit(os::HResult answer, std::uint32_t flags) {
    if (answer < 0) return answer;
    if (answer == os::kOk && !openComInits.empty()) answer = os::kFalse;
    openComInits.push_back(flags);
    comDepth = static_cast<int>(openComInits.size());
    if (comDepth > maxComDepth) maxComDepth = comDepth;
    return answer;
}

os::HResult FakeSystem::CoInitialize() {
    ++coInitializeCount;
    calls.push_back(L"CoInitialize");
    return OpenComInit(coInitializeResult, os::kCoInitApartmentThreaded);
}

os::HResult FakeSystem::CoInitializeEx(std::uint32_t flags) {
    ++coInitializeExCount;
    calls.push_back(L"CoInitializeEx " + std::to_wstring(flags));
    return OpenComInit(coInitializeExResult, flags);
}

void FakeSystem::CoUninitialize() {
    ++coUninitializeCount;
    calls.push_back(L"CoUninitialize");
    if (openComInits.empty()) {
        uninitializedWithoutInit = true;
        return;
    }
    openComInits.pop_back();
    comDepth = static_cast<int>(openComInits.size());
}

os::ComObject FakeSystem::NewObject(Kind kind, std::intptr_t link) {
    const std::intptr_t handle = nextHandle_++;
    objects_[handle] = Object{kind, link};
    liveObjects.insert(handle);
    return reinterpret_cast<os::ComObject>(handle);
}

os::HResult FakeSystem::CoCreateInstance(const os::Guid& clsid, std::uint32_t context,
                                         const os::Guid& iid, os::ComObject* object) {
    NoteComUse();
    *object = nullptr;
    if (failCoCreate || !(clsid == os::kClsidShellLink) || context != os::kClsCtxInprocServer)
        return kClassNotRegistered;
    if (!(iid == os::kIidShellLinkW)) return kNoInterface;
    *object = NewObject(Kind::ShellLink, 0);
    links_[reinterpret_cast<std::intptr_t>(*object)] = Link{};
    return os::kOk;
}

os::HResult FakeSystem::QueryInterface(os::ComObject object, const os::Guid& iid,
                                       os::ComObject* result) {
    NoteComUse();
    *result = nullptr;
    const auto it = objects_.find(reinterpret_cast<std::intptr_t>(object));
    if (it == objects_.end() || it->second.kind != Kind::ShellLink) return kNoInterface;
    if (failQueryInterface || !(iid == os::kIidPersistFile)) return kNoInterface;
    *result = NewObject(Kind::PersistFile, it->first);
    return os::kOk;
}

std::uint32_t FakeSystem::Release(os::ComObject object) {
    const auto handle = reinterpret_cast<std::intptr_t>(object);
    calls.push_back(L"Release " + std::to_wstring(handle));
    NoteComUse();
    liveObjects.erase(handle);
    objects_.erase(handle);
    return 0;
}

os::HResult FakeSystem::PersistFileLoad(os::ComObject persistFile, const wchar_t* path,
                                        std::uint32_t mode) {
    NoteComUse();
    loadAttempts.push_back(Str(path));
    calls.push_back(L"Load " + Str(path) + L"|" + std::to_wstring(mode));
    const auto it = objects_.find(reinterpret_cast<std::intptr_t>(persistFile));
    if (it == objects_.end() || it->second.kind != Kind::PersistFile) return os::kFail;
    const std::wstring p = Str(path);
    if (!FileExists(p)) return kFileNotFound;
    auto failures = shortcutLoadFailures.find(p);
    if (failures != shortcutLoadFailures.end() && failures->second != 0) {
        if (failures->second > 0) --failures->second;
        return os::kFail;
    }
    Link& link = links_[it->second.link];
    link.loaded = true;
    link.loadedPath = p;
    return os::kOk;
}

os::HResult FakeSystem::ShellLinkGetPath(os::ComObject shellLink, wchar_t* buffer,
                                         int bufferLength, std::uint32_t flags) {
    NoteComUse();
    calls.push_back(L"GetPath " + std::to_wstring(bufferLength) + L"|" + std::to_wstring(flags));
    const auto it = links_.find(reinterpret_cast<std::intptr_t>(shellLink));
    if (it == links_.end() || !it->second.loaded) return os::kFail;
    const auto target = shortcutTargets.find(it->second.loadedPath);
    if (target == shortcutTargets.end() || target->second.empty()) return 1;  // S_FALSE
    const std::wstring& t = target->second;
    const std::size_t n = t.size() < static_cast<std::size_t>(bufferLength - 1)
                              ? t.size()
                              : static_cast<std::size_t>(bufferLength - 1);
    std::memcpy(buffer, t.data(), n * sizeof(wchar_t));
    buffer[n] = L'\0';
    return os::kOk;
}

os::HResult FakeSystem::MallocFree(os::ComObject malloc, void* block) {
    NoteComUse();
    const auto it = objects_.find(reinterpret_cast<std::intptr_t>(malloc));
    if (it == objects_.end() || it->second.kind != Kind::Malloc) return os::kFail;
    const auto list = reinterpret_cast<std::intptr_t>(block);
    itemLists_.erase(list);
    liveItemLists.erase(list);
    return os::kOk;
}

os::HResult FakeSystem::SHGetSpecialFolderLocation(int csidl, os::ItemIdList* list) {
    NoteComUse();
    calls.push_back(L"SHGetSpecialFolderLocation " + std::to_wstring(csidl));
    if (failSpecialFolderLocation || specialFolders.count(csidl) == 0) return os::kFail;
    const std::intptr_t handle = nextHandle_++;
    itemLists_[handle] = csidl;
    liveItemLists.insert(handle);
    *list = reinterpret_cast<os::ItemIdList>(handle);
    return os::kOk;
}

bool FakeSystem::SHGetPathFromIDListW(os::ItemIdList list, wchar_t* buffer) {
    const auto it = itemLists_.find(reinterpret_cast<std::intptr_t>(list));
    if (it == itemLists_.end()) return false;
    const std::wstring& path = specialFolders[it->second];
    if (path.size() >= os::kMaxPath) return false;
    std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return !path.empty();
}

os::HResult FakeSystem::SHGetMalloc(os::ComObject* malloc) {
    *malloc = nullptr;
    if (failGetMalloc) return os::kFail;
    *malloc = NewObject(Kind::Malloc, 0);
    return os::kOk;
}

wchar_t* FakeSystem::PathAddBackslashW(wchar_t* path) {
    std::size_t n = 0;
    while (path[n] != L'\0') ++n;
    if (n > 0 && path[n - 1] == L'\\') return path + n;
    // Like the real one: no room for the backslash, nothing changes.
    if (n + 1 >= os::kMaxPath) return nullptr;
    path[n] = L'\\';
    path[n + 1] = L'\0';
    return path + n + 1;
}

bool FakeSystem::PathFileExistsW(const wchar_t* path) {
    calls.push_back(L"PathFileExistsW " + Str(path));
    return path != nullptr && (FileExists(path) || DirectoryExists(path));
}

long FakeSystem::SHDeleteKeyCurrentUser(const wchar_t* subKey) {
    const std::wstring key = Str(subKey);
    calls.push_back(L"SHDeleteKeyW HKCU|" + key);
    if (registryKeys.count(key) == 0) return 2;  // ERROR_FILE_NOT_FOUND
    for (auto it = registryKeys.begin(); it != registryKeys.end();) {
        if (*it == key || it->compare(0, key.size() + 1, key + L"\\") == 0)
            it = registryKeys.erase(it);
        else
            ++it;
    }
    return os::kErrorSuccess;
}

bool FakeSystem::CopyFileW(const wchar_t* from, const wchar_t* to, bool failIfExists) {
    calls.push_back(L"CopyFileW " + Str(from) + L"|" + Str(to) + L"|" +
                    (failIfExists ? L"1" : L"0"));
    const auto source = files.find(Str(from));
    if (source == files.end() || uncopyableTargets.count(Str(to)) != 0 || DirectoryExists(Str(to)))
        return false;
    if (failIfExists && FileExists(Str(to))) return false;
    if (!DirectoryExists(ParentOf(Str(to))) && !ParentOf(Str(to)).empty()) return false;
    files[Str(to)] = source->second;
    return true;
}

bool FakeSystem::DeleteFileW(const wchar_t* path) {
    calls.push_back(L"DeleteFileW " + Str(path));
    if (undeletableFiles.count(Str(path)) != 0) return false;
    return files.erase(Str(path)) != 0;
}

std::vector<std::wstring> FakeSystem::EntriesOf(const std::wstring& folder) const {
    std::vector<std::wstring> names;
    const std::wstring prefix = folder + L"\\";
    auto add = [&](const std::wstring& path) {
        if (path.compare(0, prefix.size(), prefix) == 0 &&
            path.find(L'\\', prefix.size()) == std::wstring::npos)
            names.push_back(path.substr(prefix.size()));
    };
    for (const auto& d : directories) add(d);
    for (const auto& f : files) add(f.first);
    return names;
}

bool FakeSystem::RemoveDirectoryW(const wchar_t* path) {
    calls.push_back(L"RemoveDirectoryW " + Str(path));
    if (removeDirectoryFailures > 0) {
        --removeDirectoryFailures;
        return false;
    }
    const std::wstring dir = StripTrailingBackslash(Str(path));
    if (!DirectoryExists(dir) || !EntriesOf(dir).empty()) return false;
    directories.erase(dir);
    return true;
}

bool FakeSystem::MoveFileExW(const wchar_t* from, const wchar_t* to, std::uint32_t flags) {
    calls.push_back(L"MoveFileExW " + Str(from) + L"|" + Str(to) + L"|" + std::to_wstring(flags));
    if (to == nullptr && (flags & os::kMoveFileDelayUntilReboot) != 0) {
        delayedDeletes.push_back(Str(from));
        return true;
    }
    return false;
}

os::FindHandle FakeSystem::FindFirstFileW(const wchar_t* pattern, os::FindData* data) {
    calls.push_back(L"FindFirstFileW " + Str(pattern));
    const std::wstring p = Str(pattern);
    const std::wstring suffix = L"\\*.*";
    if (p.size() < suffix.size() || p.compare(p.size() - suffix.size(), suffix.size(), suffix) != 0)
        return os::kInvalidFindHandle;
    const std::wstring folder = p.substr(0, p.size() - suffix.size());
    if (!DirectoryExists(folder)) return os::kInvalidFindHandle;
    std::vector<std::wstring> names{L".", L".."};
    for (auto& n : EntriesOf(folder)) names.push_back(n);
    const os::FindHandle handle = nextHandle_++;
    finds_[handle] = {names, 0};
    std::wcsncpy(data->cFileName, names[0].c_str(), os::kMaxPath - 1);
    return handle;
}

bool FakeSystem::FindNextFileW(os::FindHandle handle, os::FindData* data) {
    auto it = finds_.find(handle);
    if (it == finds_.end()) return false;
    auto& [names, index] = it->second;
    if (index + 1 >= names.size()) return false;
    ++index;
    std::wcsncpy(data->cFileName, names[index].c_str(), os::kMaxPath - 1);
    return true;
}

bool FakeSystem::FindClose(os::FindHandle handle) { return finds_.erase(handle) != 0; }

std::uint32_t FakeSystem::GetTempPathW(std::uint32_t length, wchar_t* buffer) {
    if (tempPath.empty() || tempPath.size() >= length) return 0;
    std::memcpy(buffer, tempPath.c_str(), (tempPath.size() + 1) * sizeof(wchar_t));
    return static_cast<std::uint32_t>(tempPath.size());
}

std::uint32_t FakeSystem::GetSystemDirectoryW(wchar_t* buffer, std::uint32_t length) {
    if (systemDirectory.empty() || systemDirectory.size() >= length) return 0;
    std::memcpy(buffer, systemDirectory.c_str(), (systemDirectory.size() + 1) * sizeof(wchar_t));
    return static_cast<std::uint32_t>(systemDirectory.size());
}

bool FakeSystem::GetVersionExW(os::OsVersionInfoEx* info) {
    versionRecordSizes.push_back(info->dwOSVersionInfoSize);
    const bool extended = info->dwOSVersionInfoSize == os::kOsVersionInfoExSize;
    const bool accepted = extended ? versionExSupported
                                   : (info->dwOSVersionInfoSize == os::kOsVersionInfoSize &&
                                      versionShortSupported);
    if (!accepted) return false;
    // The short record covers only the first 276 bytes; the rest stays.
    std::memcpy(reinterpret_cast<unsigned char*>(info) + 4,
                reinterpret_cast<const unsigned char*>(&versionRecord) + 4,
                info->dwOSVersionInfoSize - 4);
    return true;
}

std::uint32_t FakeSystem::GetFileVersionInfoSizeW(const wchar_t* path, std::uint32_t* handle) {
    fileVersionReads.push_back(Str(path));
    *handle = 0;
    if (fileVersions.count(Str(path)) == 0) return 0;
    return static_cast<std::uint32_t>(sizeof(os::FixedFileInfo) + 16);
}

bool FakeSystem::GetFileVersionInfoW(const wchar_t* path, std::uint32_t, std::uint32_t length,
                                     void* data) {
    const auto it = fileVersions.find(Str(path));
    if (it == fileVersions.end() || length < sizeof(os::FixedFileInfo)) return false;
    os::FixedFileInfo info{};
    info.dwSignature = 0xFEEF04BD;
    info.dwFileVersionMS = it->second.first;
    info.dwFileVersionLS = it->second.second;
    std::memcpy(data, &info, sizeof(info));
    return true;
}

bool FakeSystem::VerQueryValueW(const void* block, const wchar_t* subBlock, void** buffer,
                                std::uint32_t* length) {
    if (Str(subBlock) != L"\\") return false;
    *buffer = const_cast<void*>(block);
    *length = sizeof(os::FixedFileInfo);
    return true;
}
