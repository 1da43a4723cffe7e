#include <windows.h>

#include "app/Dispatch.h"
#include "os/RealSystem.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    os::RealSystem sys;
    return ProgramMain(sys);
}

