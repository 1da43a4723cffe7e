// A user of the fake with the product installed: what the installer lays
// out, plus a launch link in every place a Windows release may keep one
// (start menu and Quick Launch before Vista, pinned ones from Vista on), so
// that an uninstall on any release has something to remove.
#pragma once

#include <string>

#include "fake/FakeSystem.h"

namespace installed {

inline const std::wstring kRoaming = L"C:\\Users\\me\\AppData\\Roaming";
inline const std::wstring kDesktop = L"C:\\Users\\me\\Desktop";
inline const std::wstring kStartMenu = L"C:\\Users\\me\\Start Menu";
inline const std::wstring kPrograms = L"C:\\Users\\me\\Start Menu\\Programs";
inline const std::wstring kTemp = L"C:\\Users\\me\\Temp\\";

inline const std::wstring kInstallDir = kRoaming + L"\\corvalesmgr\\";
inline const std::wstring kExe = kInstallDir + L"corvalesmgr.exe";
inline const std::wstring kConfig = kInstallDir + L"config.ini";
inline const std::wstring kUninstallLink = kInstallDir + L"卸载Lumora网址大全.lnk";
inline const std::wstring kTempExe = kTemp + L"corvalesmgr.exe";
inline const std::wstring kKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora网址大全桌面版";
// Another product's entry, whose name starts like ours.
inline const std::wstring kSiblingKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora网址大全";

inline const std::wstring kDesktopLink = kDesktop + L"\\Lumora网址大全.lnk";
inline const std::wstring kStartLink = kStartMenu + L"\\Lumora网址大全.lnk";
inline const std::wstring kQuickLaunchLink =
    kRoaming + L"\\Microsoft\\Internet Explorer\\Quick Launch\\Lumora网址大全.lnk";
inline const std::wstring kPinnedTaskbarLink =
    kRoaming +
    L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar\\Lumora网址大全.lnk";
inline const std::wstring kPinnedStartLink =
    kRoaming +
    L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\StartMenu\\Lumora网址大全.lnk";
inline const std::wstring kProgramsFolder = kPrograms + L"\\Lumora网址大全桌面版\\";
inline const std::wstring kProgramsLaunchLink = kProgramsFolder + L"Lumora网址大全.lnk";
inline const std::wstring kProgramsUninstallLink = kProgramsFolder + L"卸载Lumora网址大全.lnk";

// Every link points at the installed program.
inline void LayOut(FakeSystem& sys) {
    sys.specialFolders = {{26, kRoaming}, {16, kDesktop}, {11, kStartMenu}, {2, kPrograms}};
    sys.tempPath = kTemp;
    sys.AddDirectory(kTemp);
    sys.AddFile(kExe, "program");
    sys.AddFile(kConfig);
    sys.registryKeys = {kKey, kKey + L"\\Sub", kSiblingKey};
    for (const auto& link : {kUninstallLink, kDesktopLink, kStartLink, kQuickLaunchLink,
                             kPinnedTaskbarLink, kPinnedStartLink, kProgramsLaunchLink,
                             kProgramsUninstallLink})
        sys.AddShortcut(link, kExe);
}

}  // namespace installed
