// ShellExecute alone, without the COM apartment Windows asks for: shows
// what that apartment costs the program, with no goal.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ShellExecuteW(nullptr, L"open", L"https://www.lumora.example/?f=aloneicon&desk", nullptr, nullptr, SW_SHOWNORMAL);
    return 0;
}
