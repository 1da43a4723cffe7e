#pragma once

#include <string>

// The command-line tail: the process command line without the program name
// and the blanks after it. The name ends at the first code unit <= U+0020
// outside double quotes; the quotes themselves are kept.
std::wstring FormCommandTail(const wchar_t* commandLine);
