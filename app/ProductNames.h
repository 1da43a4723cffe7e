#pragma once

// Names the product's key, folders and shortcuts are known by.
constexpr const wchar_t* ProductDisplayName = L"Lumora网址大全桌面版";
constexpr const wchar_t* ShortcutName = L"Lumora网址大全";
constexpr const wchar_t* UninstallShortcutName = L"卸载Lumora网址大全";
constexpr const wchar_t* ProgramFolderName = L"corvalesmgr";
constexpr const wchar_t* ProgramFileName = L"corvalesmgr.exe";
constexpr const wchar_t* ConfigFileName = L"config.ini";
