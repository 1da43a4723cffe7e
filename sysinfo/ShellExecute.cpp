#include "sysinfo/ShellExecute.h"

#include "sysinfo/ComScope.h"

std::intptr_t ShellExecuteInApartment(os::System& sys, const wchar_t* verb, const wchar_t* file,
                                      const wchar_t* parameters, const wchar_t* directory,
                                      int showCommand) {
    ComScope com(sys, kShellExecuteComFlags);
    return sys.ShellExecuteW(verb, file, parameters, directory, showCommand);
}
