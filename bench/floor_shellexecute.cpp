// The least a program can do to open the page as Windows asks of a
// ShellExecute caller (COM initialised around the call, since the shell may
// hand the request to a COM extension): the benchmark's floor for
// corvalesmgr.exe /desktop.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ShellExecuteW(nullptr, L"open", L"https://www.lumora.example/?f=aloneicon&desk", nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
