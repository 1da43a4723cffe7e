#pragma once

#include <cstdint>
#include <string>

#include "os/System.h"

// A small code for the running Windows release (0 = unclassified):
// 1 Windows 95/98, 2 Me, 3 2000, 4 NT 4.0 and earlier, 5 Server 2003 / XP x64,
// 6 XP, 7 Vista, 8 Windows 7, 9 Server 2008 (R2), 10 Windows 8, 11 Windows 8.1,
// 12 Windows 10.
using WindowsVersionCode = std::int32_t;

// Cached for the process once non-zero.
WindowsVersionCode GetWindowsVersionCode(os::System& sys);
// Works the code out afresh.
WindowsVersionCode ClassifyWindowsVersion(os::System& sys);
// 10, 11 or 12, from the version of the kernel file.
WindowsVersionCode ClassifyByKernelVersion(os::System& sys);
std::wstring GetKernelFilePath(os::System& sys);
bool ReadFileVersion(os::System& sys, const std::wstring& path, std::uint32_t& versionHigh,
                     std::uint32_t& versionLow);
