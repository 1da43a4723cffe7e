// A program that does nothing: the benchmark's floor for runs that open
// nothing, such as corvalesmgr.exe /install.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
