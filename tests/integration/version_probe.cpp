// Reports, as UTF-8 "key=value" lines, what the program's own version code
// logic sees on this system, and which version.dll copies the process holds.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "os/RealSystem.h"
#include "sysinfo/WindowsVersion.h"

namespace {

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                        nullptr);
    return s;
}

void Line(const std::string& key, const std::string& value) {
    std::printf("%s=%s\n", key.c_str(), value.c_str());
}

std::string VersionText(std::uint32_t high, std::uint32_t low) {
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFFu, low >> 16,
                  low & 0xFFFFu);
    return text;
}

// A copy of version.dll planted by the tests counts the kernel reads it was
// asked for; Windows' own has no such export.
using PlantedReadsFn = LONG(WINAPI*)();

void ReportVersionModules() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE) {
        Line("modules", "unavailable");
        return;
    }
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szModule, L"version.dll") != 0) continue;
        Line("version_module", Utf8(entry.szExePath));
        auto reads = reinterpret_cast<PlantedReadsFn>(reinterpret_cast<void (*)()>(
            GetProcAddress(entry.hModule, "PlantedKernelReads")));
        if (reads != nullptr) Line("planted_kernel_reads", std::to_string(reads()));
    }
    CloseHandle(snapshot);
}

}  // namespace

int wmain() {
    os::RealSystem sys;
    Line("code", std::to_string(GetWindowsVersionCode(sys)));
    const std::wstring kernel = GetKernelFilePath(sys);
    Line("kernel", Utf8(kernel));
    // After the code, so the count below covers the code's own reads only
    // plus this one.
    std::uint32_t high = 0, low = 0;
    Line("kernel_version", ReadFileVersion(sys, kernel, high, low) ? VersionText(high, low) : "none");
    ReportVersionModules();
    std::fflush(stdout);
    return 0;
}
