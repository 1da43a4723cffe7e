#include "sysinfo/WindowsVersion.h"

#include <vector>

#include "sysinfo/ShellPaths.h"

namespace {

constexpr std::uint32_t kPlatformWin32Windows = 1;
constexpr std::uint32_t kPlatformWin32Nt = 2;
constexpr std::uint8_t kNtWorkstation = 1;
constexpr std::uint32_t kWindowsMeVersionWord = 0x045A;

}  // namespace

// The code once worked out, for the rest of the process; 0 until then. Not in
// the header: nothing but GetWindowsVersionCode uses it. The unit tests
// declare it themselves to empty it between cases.
WindowsVersionCode CachedWindowsVersionCode = 0;

WindowsVersionCode GetWindowsVersionCode(os::System& sys) {
    if (CachedWindowsVersionCode != 0) return CachedWindowsVersionCode;
    CachedWindowsVersionCode = ClassifyWindowsVersion(sys);
    return CachedWindowsVersionCode;
}

WindowsVersionCode ClassifyWindowsVersion(os::System& sys) {
    os::OsVersionInfoEx info{};
    info.dwOSVersionInfoSize = os::kOsVersionInfoExSize;
    if (!sys.GetVersionExW(&info)) {
        // Older systems only know the short record; offer the same memory.
        info.dwOSVersionInfoSize = os::kOsVersionInfoSize;
        if (!sys.GetVersionExW(&info)) return 0;
    }

    if (info.dwPlatformId == kPlatformWin32Windows)
        return (info.dwBuildNumber >> 16) < kWindowsMeVersionWord ? 1 : 2;
    if (info.dwPlatformId != kPlatformWin32Nt) return 0;

    const bool workstation = info.wProductType == kNtWorkstation;
    const std::uint32_t major = info.dwMajorVersion;
    const std::uint32_t minor = info.dwMinorVersion;
    if (major >= 7) {
        // Not reported to a program without a manifest; read like 6.2 and
        // later, where only the kernel file tells the release.
        return workstation ? ClassifyByKernelVersion(sys) : 0;
    }
    if (major == 6) {
        if (minor == 0) return workstation ? 7 : 9;
        if (minor == 1) return workstation ? 8 : 9;
        return workstation ? ClassifyByKernelVersion(sys) : 0;
    }
    if (major == 5) {
        switch (minor) {
            case 0: return 3;
            case 1: return 6;
            case 2: return 5;
            default: return 0;
        }
    }
    return 4;
}

WindowsVersionCode ClassifyByKernelVersion(os::System& sys) {
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    if (!ReadFileVersion(sys, GetKernelFilePath(sys), high, low)) return 10;
    const std::uint32_t major = high >> 16;
    const std::uint32_t minor = high & 0xFFFFu;
    if (major == 6) {
        if (minor == 3) return 11;
        if (minor == 4) return 12;
        return 10;
    }
    if (major == 10 && minor == 0) return 12;
    return 10;
}

std::wstring GetKernelFilePath(os::System& sys) {
    return GetSystemDirectoryPath(sys) + L"ntoskrnl.exe";
}

bool ReadFileVersion(os::System& sys, const std::wstring& path, std::uint32_t& versionHigh,
                     std::uint32_t& versionLow) {
    versionHigh = 0;
    versionLow = 0;
    std::uint32_t handle = 0;
    const std::uint32_t size = sys.GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<unsigned char> block(size);
    if (!sys.GetFileVersionInfoW(path.c_str(), handle, size, block.data())) return false;
    void* fixed = nullptr;
    std::uint32_t length = 0;
    if (!sys.VerQueryValueW(block.data(), L"\\", &fixed, &length) || length == 0 ||
        fixed == nullptr)
        return false;
    const auto* info = static_cast<const os::FixedFileInfo*>(fixed);
    versionHigh = info->dwFileVersionMS;
    versionLow = info->dwFileVersionLS;
    return true;
}
