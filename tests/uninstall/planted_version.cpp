// A version.dll that knows no file's version. Planted beside the program it
// is what a bare-name load would pick up; each process that loads it says so
// in C:\corvales-test\planted.log, so a test can tell the plant was live.
#include <windows.h>

namespace {

void Record(HMODULE self) {
    wchar_t line[1024] = {};
    DWORD n = GetModuleFileNameW(self, line, 500);
    line[n++] = L'|';
    n += GetModuleFileNameW(nullptr, line + n, 500);
    line[n++] = L'\n';
    char utf8[4096];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(n), utf8, sizeof utf8,
                                          nullptr, nullptr);
    HANDLE log = CreateFileW(L"C:\\corvales-test\\planted.log", FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(log, utf8, static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(log);
}

DWORD NoVersion() {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Record(self);
    return TRUE;
}

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD handle) {
    if (handle) *handle = 0;
    return NoVersion();
}
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR, LPDWORD handle) {
    if (handle) *handle = 0;
    return NoVersion();
}
DWORD WINAPI GetFileVersionInfoSizeExW(DWORD, LPCWSTR, LPDWORD handle) {
    if (handle) *handle = 0;
    return NoVersion();
}
DWORD WINAPI GetFileVersionInfoSizeExA(DWORD, LPCSTR, LPDWORD handle) {
    if (handle) *handle = 0;
    return NoVersion();
}
BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) { return NoVersion(); }
BOOL WINAPI GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID) { return NoVersion(); }
BOOL WINAPI GetFileVersionInfoExW(DWORD, LPCWSTR, DWORD, DWORD, LPVOID) { return NoVersion(); }
BOOL WINAPI GetFileVersionInfoExA(DWORD, LPCSTR, DWORD, DWORD, LPVOID) { return NoVersion(); }
BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID* buffer, PUINT length) {
    if (buffer) *buffer = nullptr;
    if (length) *length = 0;
    return FALSE;
}
BOOL WINAPI VerQueryValueA(LPCVOID, LPCSTR, LPVOID* buffer, PUINT length) {
    if (buffer) *buffer = nullptr;
    if (length) *length = 0;
    return FALSE;
}
DWORD WINAPI VerLanguageNameW(DWORD, LPWSTR, DWORD) { return NoVersion(); }
DWORD WINAPI VerLanguageNameA(DWORD, LPSTR, DWORD) { return NoVersion(); }

}
