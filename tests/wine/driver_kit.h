// What the Windows-side test programs share: reading text out as UTF-8,
// finding and answering the dialogs a program shows, and following the
// processes it starts.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace driver_kit {

inline std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                        nullptr);
    return s;
}

// For key=value reports: one line whatever the text holds.
inline std::string Utf8Line(const std::wstring& w) {
    std::string s = Utf8(w);
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

inline std::wstring WindowText(HWND hwnd) {
    wchar_t buf[4096] = {};
    DWORD_PTR len = 0;
    // A hung program must not hang us.
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf),
                             SMTO_ABORTIFHUNG, 2000, &len))
        return {};
    return std::wstring(buf, static_cast<size_t>(len));
}

struct DialogSearch {
    DWORD pid;
    std::vector<HWND> found;
};

inline BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<DialogSearch*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (owner == search->pid && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(hwnd))
        search->found.push_back(hwnd);
    return TRUE;
}

// The dialogs (message boxes, wizard pages) process pid shows, in z-order.
// Only a box that has finished its set-up is shown, so its texts are final.
inline std::vector<HWND> VisibleDialogsOf(DWORD pid) {
    DialogSearch search{pid, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Starts a program with exactly this command line; only its process handle
// is kept. On failure GetLastError says why.
inline bool StartProcess(const std::wstring& line, PROCESS_INFORMATION& pi) {
    // CreateProcessW may write into the buffer, and wants it terminated.
    std::vector<wchar_t> buf(line.begin(), line.end());
    buf.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    pi = PROCESS_INFORMATION{};
    if (!CreateProcessW(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    pi.hThread = nullptr;
    return true;
}

// As a click does: the button tells its dialog it was pressed.
inline void PressButton(HWND dialog, HWND button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

// The processes parent started that are still there, opened for waiting
// on; the caller closes the handles.
inline std::vector<HANDLE> ChildProcessesOf(DWORD parent) {
    std::vector<HANDLE> kids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return kids;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
        if (pe.th32ParentProcessID != parent || pe.th32ProcessID == parent) continue;
        if (HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pe.th32ProcessID)) kids.push_back(h);
    }
    CloseHandle(snap);
    return kids;
}

}  // namespace driver_kit
