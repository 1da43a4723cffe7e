// Reports, as UTF-8 "key=value" lines, the version code the program works
// out on this system and what each version.dll in the process says about
// the kernel file; then the version of each file named on the command line.
//   version_probe.exe [PATH...]
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../wine/driver_kit.h"
#include "os/RealSystem.h"
#include "sysinfo/WindowsVersion.h"

namespace {

using driver_kit::Utf8;

void Line(const std::string& key, const std::string& value) {
    std::printf("%s=%s\n", key.c_str(), value.c_str());
}

std::string VersionText(std::uint32_t high, std::uint32_t low) {
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFFu, low >> 16,
                  low & 0xFFFFu);
    return text;
}

template <typename Fn>
Fn Proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The kernel file's version as this one module reads it.
std::string KernelVersionThrough(HMODULE module, const std::wstring& kernel) {
    auto size = Proc<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>(module, "GetFileVersionInfoSizeW");
    auto info = Proc<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>(module, "GetFileVersionInfoW");
    auto query = Proc<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>(module, "VerQueryValueW");
    if (size == nullptr || info == nullptr || query == nullptr) return "no-exports";
    DWORD handle = 0;
    const DWORD length = size(kernel.c_str(), &handle);
    if (length == 0) return "none";
    std::vector<unsigned char> block(length);
    void* fixed = nullptr;
    UINT fixedLength = 0;
    if (!info(kernel.c_str(), handle, length, block.data()) ||
        !query(block.data(), L"\\", &fixed, &fixedLength) || fixed == nullptr)
        return "none";
    const auto* record = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return VersionText(record->dwFileVersionMS, record->dwFileVersionLS);
}

// The file a module was really mapped from. Under WoW64 a module's listed
// name can be the System32 path it was loaded by while its file came from
// SysWOW64.
std::string MappedFile(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetMappedFileNameW(GetCurrentProcess(), module, path, MAX_PATH);
    return length == 0 ? "unknown" : Utf8(std::wstring(path, length));
}

// One line per loaded version.dll: its path, the file it was mapped from,
// the kernel version it reads, and, for the copy the tests plant (Windows'
// own lacks the export), how many kernel reads it had been asked for
// before this report.
void ReportVersionModules(const std::wstring& kernel) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE) {
        Line("version_module", "unavailable");
        return;
    }
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more;
         more = Module32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szModule, L"version.dll") != 0) continue;
        auto plantedReads = Proc<LONG(WINAPI*)()>(entry.hModule, "PlantedKernelReads");
        const std::string reads = plantedReads ? std::to_string(plantedReads()) : "-";
        Line("version_module", Utf8(entry.szExePath) + ";mapped=" + MappedFile(entry.hModule) +
                                   ";kernel=" + KernelVersionThrough(entry.hModule, kernel) +
                                   ";planted_reads=" + reads);
    }
    CloseHandle(snapshot);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    os::RealSystem sys;
    // First, so the module report shows where the code's own reads went.
    Line("code", std::to_string(GetWindowsVersionCode(sys)));
    const std::wstring kernel = GetKernelFilePath(sys);
    Line("kernel", Utf8(kernel));
    ReportVersionModules(kernel);
    std::uint32_t high = 0, low = 0;
    Line("kernel_version",
         ReadFileVersion(sys, kernel, high, low) ? VersionText(high, low) : "none");
    // Other files, read the same way: what the tests put in place, seen
    // from this process.
    for (int i = 1; i < argc; ++i)
        Line("file_version", Utf8(argv[i]) + ";" +
                                 (ReadFileVersion(sys, argv[i], high, low) ? VersionText(high, low)
                                                                           : "none"));
    std::fflush(stdout);
    return 0;
}
