// Entry point of the data-only DLLs the tests read version records from;
// they are never run, only mapped as data.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID) { return TRUE; }
