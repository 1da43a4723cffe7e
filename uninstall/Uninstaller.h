#pragma once

#include <cstdint>
#include <string>

#include "os/System.h"

// Removes the product for the current user, in two processes: phase 1 (the
// installed program) copies itself to the temporary directory and, only once
// that copy is made, deletes the uninstall key and the shortcuts and starts
// the copy; phase 2 (that copy) deletes the installed files and folder and
// marks itself for deletion at restart.
class CUninstaller {
public:
    explicit CUninstaller(os::System& sys);
    CUninstaller(const CUninstaller&) = delete;
    CUninstaller& operator=(const CUninstaller&) = delete;

    void Initialize();
    // phase 0 runs phase 1, anything else phase 2. False when not initialized.
    bool Run(int phase);

    bool DeleteUninstallKey();
    // Copies the installed program to TempExePath, over whatever is there;
    // true when the copy was made.
    bool CopyToTemp();
    // Starts the program at TempExePath with "/uninst /del" from the
    // temporary directory; true when the shell accepted.
    bool RelaunchFromTemp();

    // Shortcut and pin removal of phase 1.
    bool RemoveShortcuts();
    bool DeleteDesktopShortcut();
    bool DeleteStartMenuShortcut();
    bool DeleteQuickLaunchShortcut();
    bool UnpinFromStartMenu();
    bool UnpinFromTaskbar();
    bool DeleteIfExists(const std::wstring& path);

    std::wstring InstallDir;
    std::wstring ExePath;
    std::wstring UninstallLinkPath;
    std::wstring TempExePath;
    std::wstring ConfigPath;
    std::int32_t Initialized = 0;
    std::int32_t UsesPinnedLocations = 0;

private:
    void RunFirstPhase();
    void RunSecondPhase();
    void DeleteInstalledFiles();
    bool Unpin(const wchar_t* pinnedFolder, const wchar_t* verb);

    os::System& sys_;
};

// True when the link's target is the installed program (A-Z compared without
// case, nothing normalised).
bool IsOurShortcut(os::System& sys, const CUninstaller& uninstaller, const wchar_t* linkPath);

// Equal when only the letters A to Z differ in case.
bool EqualIgnoringAsciiCase(const std::wstring& a, const std::wstring& b);

// Folders under the roaming application data, each ending in a backslash.
extern const wchar_t* const QuickLaunchFolder;
extern const wchar_t* const PinnedTaskbarFolder;
extern const wchar_t* const PinnedStartMenuFolder;

// Registry path under HKEY_CURRENT_USER of the key holding every program's
// uninstall entry, ending in a backslash; the product's entry is the subkey
// named after it.
extern const wchar_t* const UninstallKeyPrefix;

constexpr std::uint32_t kSecondRemovalPauseMs = 5000;
