// The least a program can do to open the page: the benchmark's floor for
// corvalesmgr.exe /desktop.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ShellExecuteW(nullptr, L"open", L"https://www.lumora.example/?f=aloneicon&desk", nullptr, nullptr, SW_SHOWNORMAL);
    return 0;
}
