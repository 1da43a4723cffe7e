#include "uninstall/Uninstaller.h"

#include "product/ProductNames.h"
#include "sysinfo/ShellExecute.h"
#include "sysinfo/ShellPaths.h"
#include "sysinfo/WindowsVersion.h"

const wchar_t* const UninstallKeyPrefix = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

CUninstaller::CUninstaller(os::System& sys) : sys_(sys) { Initialize(); }

void CUninstaller::Initialize() {
    if (Initialized != 0) return;
    const WindowsVersionCode code = GetWindowsVersionCode(sys_);
    UsesPinnedLocations = (code >= 7 && code <= 12) ? 1 : 0;

    // Without both folders every path would be relative to the current
    // directory, which is nobody's install: stay uninitialized.
    const std::wstring appData = GetAppDataPath(sys_);
    const std::wstring temp = GetTempDirectoryPath(sys_);
    if (appData.empty() || temp.empty()) return;

    InstallDir = appData + ProgramFolderName + L"\\";
    ExePath = InstallDir + ProgramFileName;
    ConfigPath = InstallDir + ConfigFileName;
    TempExePath = temp + ProgramFileName;
    UninstallLinkPath = InstallDir + UninstallShortcutName + L".lnk";
    Initialized = 1;
}

bool CUninstaller::Run(int phase) {
    if (Initialized == 0) return false;
    if (phase == 0)
        RunFirstPhase();
    else
        RunSecondPhase();
    return true;
}

void CUninstaller::RunFirstPhase() {
    // The copy carries the rest of the uninstall. Without it the user needs
    // the key and the shortcuts to try again, so nothing is removed; nor is
    // a file that was already there started, as it may be stale or planted.
    if (!CopyToTemp()) return;
    DeleteUninstallKey();
    RemoveShortcuts();
    // A refused start undoes nothing.
    RelaunchFromTemp();
}

void CUninstaller::DeleteInstalledFiles() {
    sys_.DeleteFileW(ExePath.c_str());
    sys_.DeleteFileW(UninstallLinkPath.c_str());
    sys_.DeleteFileW(ConfigPath.c_str());
}

void CUninstaller::RunSecondPhase() {
    DeleteInstalledFiles();
    if (!sys_.RemoveDirectoryW(InstallDir.c_str())) {
        // The installed program may still have been running at the first try.
        sys_.Sleep(kSecondRemovalPauseMs);
        DeleteInstalledFiles();
        sys_.RemoveDirectoryW(InstallDir.c_str());
    }
    sys_.MoveFileExW(TempExePath.c_str(), nullptr, os::kMoveFileDelayUntilReboot);
}

bool CUninstaller::DeleteUninstallKey() {
    const std::wstring key = std::wstring(UninstallKeyPrefix) + ProductDisplayName;
    return sys_.SHDeleteKeyCurrentUser(key.c_str()) == os::kErrorSuccess;
}

bool CUninstaller::CopyToTemp() {
    return sys_.CopyFileW(ExePath.c_str(), TempExePath.c_str(), false);
}

bool CUninstaller::RelaunchFromTemp() {
    const std::wstring tempDir = GetTempDirectoryPath(sys_);
    return ShellExecuteInApartment(sys_, L"open", TempExePath.c_str(), L"/uninst /del",
                                   tempDir.c_str(), os::kSwShow) > 32;
}
