#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "os/System.h"

// Failures of COM initialisation: the thread is already in another kind of
// apartment, or memory ran out.
constexpr os::HResult kRpcEChangedMode = static_cast<os::HResult>(0x80010106u);
constexpr os::HResult kEOutOfMemory = static_cast<os::HResult>(0x8007000Eu);

// What a COM initialisation may answer, and whether a scope must undo it.
struct ComAnswerCase {
    const char* what;
    os::HResult answer;
    bool undone;
};
inline constexpr ComAnswerCase kComAnswers[] = {
    {"S_OK", os::kOk, true},
    {"S_FALSE", os::kFalse, true},
    {"RPC_E_CHANGED_MODE", kRpcEChangedMode, false},
    {"E_OUTOFMEMORY", kEOutOfMemory, false},
};

// An in-memory Windows behind the seam: files and folders, shortcuts,
// registry keys, shell folders, version records and COM objects, with every
// call that changes something or waits, and every COM initialisation and
// uninitialisation, written to `calls`.
class FakeSystem : public os::System {
public:
    FakeSystem();
    ~FakeSystem() override;

    // --- what the fake holds ---
    std::optional<std::wstring> commandLine;
    std::map<int, std::wstring> specialFolders;  // CSIDL -> path, no trailing backslash
    std::wstring tempPath = L"C:\\Users\\me\\AppData\\Local\\Temp\\";
    std::wstring systemDirectory = L"C:\\Windows\\system32";
    std::set<std::wstring> directories;            // stored without trailing backslash
    std::map<std::wstring, std::string> files;     // path -> contents
    std::map<std::wstring, std::wstring> shortcutTargets;  // link path -> raw target
    std::map<std::wstring, int> shortcutLoadFailures;      // failures before a load succeeds
    std::set<std::wstring> registryKeys;           // HKCU sub-keys
    std::map<std::wstring, std::pair<std::uint32_t, std::uint32_t>> fileVersions;

    // --- answers and faults ---
    bool versionExSupported = true;   // extended record accepted
    bool versionShortSupported = true;
    os::OsVersionInfoEx versionRecord{};
    std::intptr_t shellExecuteResult = 42;
    int messageBoxAnswer = os::kIdOk;
    // Answers of CoInitialize and CoInitializeEx. A success (S_OK, or S_FALSE,
    // which is given instead of S_OK while the thread already has COM, as
    // Windows does) opens an initialisation that one CoUninitialize closes; a
    // failure such as RPC_E_CHANGED_MODE or E_OUTOFMEMORY opens none.
    os::HResult coInitializeResult = os::kOk;
    os::HResult coInitializeExResult = os::kOk;
    bool failCoCreate = false;
    bool failQueryInterface = false;
    bool failGetMalloc = false;
    bool failSpecialFolderLocation = false;
    bool hasSetDefaultDllDirectories = true;
    std::set<std::wstring> undeletableFiles;
    // Copies onto these fail (held open by another process, a full disk); so
    // does one onto a folder or into a folder that does not exist.
    std::set<std::wstring> uncopyableTargets;
    int removeDirectoryFailures = 0;  // forced failures before real behaviour
    std::function<void(const std::wstring& verb, const std::wstring& file)> onShellExecute;
    std::function<void(std::uint32_t milliseconds)> onSleep;

    // --- what the program did ---
    std::vector<std::wstring> calls;
    std::vector<std::uint32_t> sleeps;
    std::vector<std::uint32_t> versionRecordSizes;  // dwOSVersionInfoSize of each GetVersionExW
    std::vector<std::wstring> fileVersionReads;
    std::vector<std::wstring> loadAttempts;
    std::vector<std::wstring> delayedDeletes;
    std::optional<std::uint32_t> dllDirectoryFlags;
    int coInitializeCount = 0;    // calls, failed ones too
    int coInitializeExCount = 0;  // calls, failed ones too
    int coUninitializeCount = 0;
    int comDepth = 0;  // open initialisations
    int maxComDepth = 0;
    // The flags of each open initialisation, innermost last; CoInitialize's
    // are kCoInitApartmentThreaded.
    std::vector<std::uint32_t> openComInits;
    // For each ShellExecuteW, in order, the initialisations open around it.
    std::vector<std::vector<std::uint32_t>> comInitsAtShellExecute;
    bool comUsedOutsideApartment = false;
    bool uninitializedWithoutInit = false;  // a CoUninitialize with nothing open
    std::set<std::intptr_t> liveObjects;
    std::set<std::intptr_t> liveItemLists;

    // --- helpers for tests ---
    void SetVersion(std::uint32_t platform, std::uint32_t major, std::uint32_t minor,
                    std::uint8_t productType, std::uint32_t build = 0);
    void AddFile(const std::wstring& path, const std::string& contents = "x");
    void AddDirectory(const std::wstring& path);
    void AddShortcut(const std::wstring& path, const std::wstring& target);
    bool FileExists(const std::wstring& path) const;
    bool DirectoryExists(const std::wstring& path) const;
    // Calls whose text starts with the prefix, in order.
    std::vector<std::wstring> CallsStartingWith(const std::wstring& prefix) const;
    // Empty when every ShellExecuteW so far came right after a successful
    // CoInitializeEx with `flags` of its own, with nothing else open, and was
    // followed at once by the CoUninitialize that closed it, and nothing was
    // uninitialised that was not initialised; otherwise what went wrong.
    std::wstring ShellExecuteApartmentFaults(std::uint32_t flags) const;

    // --- the seam ---
    const wchar_t* GetCommandLineW() override;
    bool SetDefaultDllDirectories(std::uint32_t flags) override;
    void Sleep(std::uint32_t milliseconds) override;
    std::intptr_t ShellExecuteW(const wchar_t* verb, const wchar_t* file,
                                const wchar_t* parameters, const wchar_t* directory,
                                int showCommand) override;
    int MessageBoxW(const wchar_t* text, const wchar_t* caption, unsigned type) override;
    os::HResult CoInitialize() override;
    os::HResult CoInitializeEx(std::uint32_t flags) override;
    void CoUninitialize() override;
    os::HResult CoCreateInstance(const os::Guid& clsid, std::uint32_t context,
                                 const os::Guid& iid, os::ComObject* object) override;
    os::HResult QueryInterface(os::ComObject object, const os::Guid& iid,
                               os::ComObject* result) override;
    std::uint32_t Release(os::ComObject object) override;
    os::HResult PersistFileLoad(os::ComObject persistFile, const wchar_t* path,
                                std::uint32_t mode) override;
    os::HResult ShellLinkGetPath(os::ComObject shellLink, wchar_t* buffer, int bufferLength,
                                 std::uint32_t flags) override;
    os::HResult MallocFree(os::ComObject malloc, void* block) override;
    os::HResult SHGetSpecialFolderLocation(int csidl, os::ItemIdList* list) override;
    bool SHGetPathFromIDListW(os::ItemIdList list, wchar_t* buffer) override;
    os::HResult SHGetMalloc(os::ComObject* malloc) override;
    wchar_t* PathAddBackslashW(wchar_t* path) override;
    bool PathFileExistsW(const wchar_t* path) override;
    long SHDeleteKeyCurrentUser(const wchar_t* subKey) override;
    bool CopyFileW(const wchar_t* from, const wchar_t* to, bool failIfExists) override;
    bool DeleteFileW(const wchar_t* path) override;
    bool RemoveDirectoryW(const wchar_t* path) override;
    bool MoveFileExW(const wchar_t* from, const wchar_t* to, std::uint32_t flags) override;
    os::FindHandle FindFirstFileW(const wchar_t* pattern, os::FindData* data) override;
    bool FindNextFileW(os::FindHandle handle, os::FindData* data) override;
    bool FindClose(os::FindHandle handle) override;
    std::uint32_t GetTempPathW(std::uint32_t length, wchar_t* buffer) override;
    std::uint32_t GetSystemDirectoryW(wchar_t* buffer, std::uint32_t length) override;
    bool GetVersionExW(os::OsVersionInfoEx* info) override;
    std::uint32_t GetFileVersionInfoSizeW(const wchar_t* path, std::uint32_t* handle) override;
    bool GetFileVersionInfoW(const wchar_t* path, std::uint32_t handle, std::uint32_t length,
                             void* data) override;
    bool VerQueryValueW(const void* block, const wchar_t* subBlock, void** buffer,
                        std::uint32_t* length) override;

    int openFinds() const { return static_cast<int>(finds_.size()); }

private:
    enum class Kind { ShellLink, PersistFile, Malloc };
    struct Object {
        Kind kind;
        std::intptr_t link;  // the shell link a persist-file view belongs to
    };
    struct Link {
        std::wstring loadedPath;
        bool loaded = false;
    };
    os::ComObject NewObject(Kind kind, std::intptr_t link);
    void NoteComUse();
    os::HResult OpenComInit(os::HResult answer, std::uint32_t flags);
    std::vector<std::wstring> EntriesOf(const std::wstring& folder) const;

    std::intptr_t nextHandle_ = 0x1000;
    std::map<std::intptr_t, Object> objects_;
    std::map<std::intptr_t, Link> links_;
    std::map<std::intptr_t, int> itemLists_;  // -> CSIDL
    std::map<os::FindHandle, std::pair<std::vector<std::wstring>, std::size_t>> finds_;
};

std::wstring StripTrailingBackslash(std::wstring path);
