// Says it ran: appends "<own path>|<command line>" to C:\corvales-test\probe.log.
// Registered as the unpin verbs' handler, and planted where a stale copy of
// the program could be started by mistake.
#include <windows.h>

#include <string>

#include "../wine/driver_kit.h"

int wmain() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring line = std::wstring(self) + L"|" + GetCommandLineW() + L"\n";
    const std::string bytes = driver_kit::Utf8(line);
    // Both verb handlers may be started at once: wait for the other's write.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE log = CreateFileW(L"C:\\corvales-test\\probe.log", FILE_APPEND_DATA, FILE_SHARE_READ,
                                 nullptr, OPEN_ALWAYS, 0, nullptr);
        if (log != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(log, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            CloseHandle(log);
            return 0;
        }
        Sleep(10);
    }
    return 1;
}
