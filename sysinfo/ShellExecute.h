#pragma once

#include <cstdint>

#include "os/System.h"

// The shell may hand a ShellExecuteW request to extensions it activates
// through COM, so each call gets a single-threaded apartment for its length,
// initialised as Windows asks of ShellExecute's callers: apartment-threaded,
// with OLE1 DDE switched off.
constexpr std::uint32_t kShellExecuteComFlags =
    os::kCoInitApartmentThreaded | os::kCoInitDisableOle1Dde;

// ShellExecuteW with no owner window inside such an apartment; returns what
// it returned. The call is made even if COM cannot be initialised.
std::intptr_t ShellExecuteInApartment(os::System& sys, const wchar_t* verb, const wchar_t* file,
                                      const wchar_t* parameters, const wchar_t* directory,
                                      int showCommand);
