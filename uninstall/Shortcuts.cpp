#include "product/ProductNames.h"
#include "sysinfo/ShellExecute.h"
#include "sysinfo/ShellPaths.h"
#include "sysinfo/WindowsVersion.h"
#include "uninstall/Uninstaller.h"

const wchar_t* const QuickLaunchFolder = L"Microsoft\\Internet Explorer\\Quick Launch\\";
const wchar_t* const PinnedTaskbarFolder =
    L"Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar\\";
const wchar_t* const PinnedStartMenuFolder =
    L"Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\StartMenu\\";

namespace {

// The launch shortcut in a folder; empty when the folder is unknown, so that
// nothing is looked for relative to the current directory.
std::wstring LaunchLinkIn(const std::wstring& folder, const wchar_t* subFolder = L"") {
    if (folder.empty()) return std::wstring();
    return folder + subFolder + ShortcutName + L".lnk";
}

bool UnpinsOnThisVersion(WindowsVersionCode code) { return code == 7 || code == 8 || code == 10; }

}  // namespace

bool EqualIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i];
        wchar_t y = b[i];
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 32);
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

bool IsOurShortcut(os::System& sys, const CUninstaller& uninstaller, const wchar_t* linkPath) {
    if (linkPath == nullptr || *linkPath == L'\0') return false;
    // Loading a missing link only costs its retries; it is never ours.
    if (!sys.PathFileExistsW(linkPath)) return false;
    const std::wstring target = GetShortcutTarget(sys, linkPath);
    return !target.empty() && EqualIgnoringAsciiCase(target, uninstaller.ExePath);
}

bool CUninstaller::DeleteIfExists(const std::wstring& path) {
    if (!sys_.PathFileExistsW(path.c_str())) return true;
    return sys_.DeleteFileW(path.c_str());
}

bool CUninstaller::DeleteDesktopShortcut() {
    const std::wstring path = LaunchLinkIn(GetDesktopPath(sys_));
    return !path.empty() && DeleteIfExists(path);
}

bool CUninstaller::DeleteStartMenuShortcut() {
    const std::wstring path = LaunchLinkIn(GetStartMenuPath(sys_));
    return !path.empty() && DeleteIfExists(path);
}

bool CUninstaller::DeleteQuickLaunchShortcut() {
    const std::wstring path = LaunchLinkIn(GetAppDataPath(sys_), QuickLaunchFolder);
    return !path.empty() && DeleteIfExists(path);
}

bool CUninstaller::Unpin(const wchar_t* pinnedFolder, const wchar_t* verb) {
    if (!UnpinsOnThisVersion(GetWindowsVersionCode(sys_))) return false;
    const std::wstring path = LaunchLinkIn(GetAppDataPath(sys_), pinnedFolder);
    if (path.empty()) return false;
    return ShellExecuteInApartment(sys_, verb, path.c_str(), nullptr, nullptr, os::kSwHide) > 32;
}

bool CUninstaller::UnpinFromStartMenu() { return Unpin(PinnedStartMenuFolder, L"startunpin"); }

bool CUninstaller::UnpinFromTaskbar() { return Unpin(PinnedTaskbarFolder, L"taskbarunpin"); }

bool CUninstaller::RemoveShortcuts() {
    sys_.DeleteFileW(UninstallLinkPath.c_str());

    const std::wstring desktopLink = LaunchLinkIn(GetDesktopPath(sys_));
    if (IsOurShortcut(sys_, *this, desktopLink.c_str())) DeleteDesktopShortcut();

    if (UsesPinnedLocations == 1) {
        const std::wstring link = LaunchLinkIn(GetAppDataPath(sys_), PinnedStartMenuFolder);
        if (IsOurShortcut(sys_, *this, link.c_str())) UnpinFromStartMenu();
    } else {
        const std::wstring link = LaunchLinkIn(GetStartMenuPath(sys_));
        if (IsOurShortcut(sys_, *this, link.c_str())) DeleteStartMenuShortcut();
    }

    const std::wstring programs = GetProgramsPath(sys_);
    if (!programs.empty()) {
        const std::wstring folder = programs + ProductDisplayName + L"\\";
        const std::wstring launchLink = folder + ShortcutName + L".lnk";
        const std::wstring uninstallLink = folder + UninstallShortcutName + L".lnk";
        if (sys_.PathFileExistsW(launchLink.c_str())) sys_.DeleteFileW(launchLink.c_str());
        if (sys_.PathFileExistsW(uninstallLink.c_str())) sys_.DeleteFileW(uninstallLink.c_str());
        if (!FolderHasEntries(sys_, folder)) sys_.RemoveDirectoryW(folder.c_str());
    }

    if (UsesPinnedLocations == 1) {
        const std::wstring link = LaunchLinkIn(GetAppDataPath(sys_), PinnedTaskbarFolder);
        if (IsOurShortcut(sys_, *this, link.c_str())) UnpinFromTaskbar();
    } else {
        const std::wstring link = LaunchLinkIn(GetAppDataPath(sys_), QuickLaunchFolder);
        if (IsOurShortcut(sys_, *this, link.c_str())) DeleteQuickLaunchShortcut();
    }
    return true;
}
