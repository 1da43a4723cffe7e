#pragma once

#include <string>

#include "os/System.h"

constexpr int kCsidlPrograms = 2;
constexpr int kCsidlStartMenu = 11;
constexpr int kCsidlDesktopDirectory = 16;
constexpr int kCsidlAppData = 26;

constexpr int kShortcutLoadAttempts = 10;
constexpr std::uint32_t kShortcutLoadPauseMs = 100;

// Folder paths end in a backslash; an empty string is a folder the system
// did not report.
std::wstring GetSpecialFolderPath(os::System& sys, int csidl);
std::wstring GetAppDataPath(os::System& sys);
std::wstring GetDesktopPath(os::System& sys);
std::wstring GetProgramsPath(os::System& sys);
std::wstring GetStartMenuPath(os::System& sys);
std::wstring GetTempDirectoryPath(os::System& sys);
// Never empty: a single backslash when the system does not answer.
std::wstring GetSystemDirectoryPath(os::System& sys);

void EnsureTrailingSeparator(std::wstring& path);

// The target stored in a shortcut file, unexpanded; empty when it cannot be
// read.
std::wstring GetShortcutTarget(os::System& sys, const std::wstring& linkPath);

// True when the folder (ending in a backslash) holds anything besides "."
// and "..".
bool FolderHasEntries(os::System& sys, const std::wstring& folderPath);
