// Included before everything else in the Windows program (see
// cmake/WindowsProgram.cmake). The prebuilt string instantiations of the
// static C++ runtime come as whole objects of ~30 KB each; with this the
// compiler instantiates only the members the program uses.
#pragma once
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
