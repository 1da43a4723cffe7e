#pragma once

#include <string>

#include "os/System.h"

// The confirmation text shown before an uninstall.
std::wstring UninstallConfirmationText();
extern const wchar_t* const UninstallConfirmationCaption;

// Performs the one action the tail asks for; always returns 0.
int RunEntry(os::System& sys, const std::wstring& tail);

// Everything a process does: restricts DLL loading, forms the tail from the
// process command line and runs the entry. Returns the exit code.
int ProgramMain(os::System& sys);
