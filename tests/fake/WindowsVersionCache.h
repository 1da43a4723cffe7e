// Reaches the version code the program caches for its process, which it
// keeps to itself (sysinfo/WindowsVersion.cpp), so that each test case
// starts as a new process would.
#pragma once

#include "sysinfo/WindowsVersion.h"

extern WindowsVersionCode CachedWindowsVersionCode;

inline void ResetWindowsVersionCodeCache() { CachedWindowsVersionCode = 0; }
