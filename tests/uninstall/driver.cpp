// Starts the installed program with /uninst, answers its message box and
// follows the uninstall to its end. Reports UTF-8 key=value lines; times
// are milliseconds from the answer.
//
//   uninstall_driver <ok|cancel|close> <timeout-ms> <program.exe> [option]...
//
//   hold=<path>   keep <path> open, shared for reading only, throughout
//   gone=<path>   also wait for <path> to disappear and say when it did
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

LARGE_INTEGER g_frequency;

double since(const LARGE_INTEGER& start) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(g_frequency.QuadPart);
}

void out(const std::string& key, const std::string& value) {
    std::printf("%s=%s\n", key.c_str(), value.c_str());
    std::fflush(stdout);
}

void out_ms(const char* key, double ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", ms);
    out(key, buf);
}

std::string utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                        nullptr);
    // One report per line whatever the text holds.
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

std::wstring text_of(HWND hwnd) {
    wchar_t buf[1024] = {};
    DWORD_PTR len = 0;
    // A hung program must not hang us.
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf),
                             SMTO_ABORTIFHUNG, 2000, &len))
        return {};
    return std::wstring(buf, static_cast<size_t>(len));
}

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK find_box(HWND hwnd, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    // Only a box that has finished its set-up is shown, so its texts are final.
    if (pid == s->pid && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(hwnd)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK list_button(HWND hwnd, LPARAM lp) {
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (lstrcmpiW(cls, L"Button") == 0 && IsWindowVisible(hwnd)) {
        auto* ids = reinterpret_cast<std::string*>(lp);
        if (!ids->empty()) *ids += ",";
        *ids += std::to_string(GetDlgCtrlID(hwnd));
    }
    return TRUE;
}

// The processes the program started: the copy that finishes the uninstall
// and any verb handler. Ended ones have done their work already.
std::vector<HANDLE> children_of(DWORD parent) {
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

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    QueryPerformanceFrequency(&g_frequency);
    if (argc < 4) {
        std::fprintf(stderr, "usage: uninstall_driver <ok|cancel|close> <timeout-ms> <program.exe> [hold=P] [gone=P]\n");
        return 2;
    }
    const std::wstring answer = argv[1];
    const DWORD timeout = wcstoul(argv[2], nullptr, 10);
    std::wstring hold, gone;
    for (int i = 4; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg.rfind(L"hold=", 0) == 0) hold = arg.substr(5);
        else if (arg.rfind(L"gone=", 0) == 0) gone = arg.substr(5);
    }

    HANDLE held = INVALID_HANDLE_VALUE;
    if (!hold.empty()) {
        held = CreateFileW(hold.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        out("hold", held == INVALID_HANDLE_VALUE ? "error " + std::to_string(GetLastError()) : "ok");
    }

    std::wstring line = L"\"" + std::wstring(argv[3]) + L"\" /uninst";
    std::vector<wchar_t> buf(line.begin(), line.end());
    buf.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        out("error", "createprocess " + std::to_string(GetLastError()));
        return 3;
    }
    CloseHandle(pi.hThread);

    LARGE_INTEGER begin;
    QueryPerformanceCounter(&begin);
    Search s{pi.dwProcessId, nullptr};
    while (!s.found && since(begin) < timeout) {
        EnumWindows(find_box, reinterpret_cast<LPARAM>(&s));
        if (!s.found && WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) break;
    }
    if (!s.found) {
        out("box", "none");
        TerminateProcess(pi.hProcess, 0xDEAD);
        return 4;
    }
    out("box", "shown");
    out("caption", utf8(text_of(s.found)));
    HWND label = GetDlgItem(s.found, 0xFFFF);
    out("text", utf8(label ? text_of(label) : std::wstring()));
    std::string buttons;
    EnumChildWindows(s.found, list_button, reinterpret_cast<LPARAM>(&buttons));
    out("buttons", buttons);

    LARGE_INTEGER answered;
    QueryPerformanceCounter(&answered);
    if (answer == L"close") {
        PostMessageW(s.found, WM_CLOSE, 0, 0);
    } else {
        const int id = answer == L"ok" ? IDOK : IDCANCEL;
        // As a click does: the button tells the box it was pressed.
        PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(s.found, id)));
    }

    if (WaitForSingleObject(pi.hProcess, timeout) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 0xDEAD);
        out("exit", "timeout");
        return 5;
    }
    out_ms("phase1_ms", since(answered));
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    out("exit", std::to_string(code));

    std::vector<HANDLE> kids = children_of(pi.dwProcessId);
    out("children", std::to_string(kids.size()));
    bool goneSeen = gone.empty();
    for (;;) {
        if (!goneSeen && !exists(gone)) {
            goneSeen = true;
            out_ms("gone_ms", since(answered));
        }
        bool running = false;
        for (HANDLE h : kids)
            if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) running = true;
        if (goneSeen && !running) break;
        if (since(answered) > timeout) {
            out(goneSeen ? "children_left" : "gone", goneSeen ? "yes" : "timeout");
            break;
        }
        Sleep(1);
    }
    out_ms("done_ms", since(answered));
    for (HANDLE h : kids) CloseHandle(h);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    CloseHandle(pi.hProcess);
    return 0;
}
