#pragma once

// Names the product's key, folders and shortcuts are known by. The program's
// uninstall and the installer (installer/build.sh reads this file) must agree
// on them, so they are written here once: one definition a line, in the form
// the installer's build reads.
constexpr const wchar_t* ProductDisplayName = L"Lumora网址大全桌面版";
constexpr const wchar_t* ShortcutName = L"Lumora网址大全";
constexpr const wchar_t* UninstallShortcutName = L"卸载Lumora网址大全";
constexpr const wchar_t* ProgramFolderName = L"corvalesmgr";
constexpr const wchar_t* ProgramFileName = L"corvalesmgr.exe";
constexpr const wchar_t* ConfigFileName = L"config.ini";
