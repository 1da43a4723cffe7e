#include "app/CommandTail.h"

std::wstring FormCommandTail(const wchar_t* commandLine) {
    if (commandLine == nullptr) return std::wstring();
    const wchar_t* p = commandLine;
    bool inQuotes = false;
    for (; *p != L'\0'; ++p) {
        if (*p == L'"')
            inQuotes = !inQuotes;
        else if (!inQuotes && static_cast<unsigned>(*p) <= 0x20u)
            break;
    }
    while (*p != L'\0' && static_cast<unsigned>(*p) <= 0x20u) ++p;
    return std::wstring(p);
}
