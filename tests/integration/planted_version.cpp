// A stand-in version.dll that knows no file's version. Placed beside a
// program, it is what a bare-name load of version.dll would pick up.
#include <windows.h>

namespace {
volatile LONG g_kernelReads = 0;

bool NamesKernel(LPCWSTR path) {
    if (path == nullptr) return false;
    const int length = lstrlenW(path);
    const wchar_t kName[] = L"ntoskrnl.exe";
    const int nameLength = static_cast<int>(sizeof kName / sizeof kName[0]) - 1;
    return length >= nameLength && lstrcmpiW(path + length - nameLength, kName) == 0;
}
}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR path, LPDWORD handle) {
    if (NamesKernel(path)) InterlockedIncrement(&g_kernelReads);
    if (handle != nullptr) *handle = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR path, DWORD, DWORD, LPVOID) {
    if (NamesKernel(path)) InterlockedIncrement(&g_kernelReads);
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

__declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID* buffer, PUINT length) {
    if (buffer != nullptr) *buffer = nullptr;
    if (length != nullptr) *length = 0;
    return FALSE;
}

__declspec(dllexport) LONG WINAPI PlantedKernelReads() { return g_kernelReads; }

}
