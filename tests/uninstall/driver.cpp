// Starts the installed program with /uninst, answers its message box and
// follows the uninstall to its end. Reports UTF-8 key=value lines; times
// are milliseconds from the answer.
//
//   uninstall_driver <ok|cancel|close> <timeout-ms> <program.exe> [option]...
//
//   hold=<path>   keep <path> open, shared for reading only, throughout
//   gone=<path>   also wait for <path> to disappear and say when it did
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../wine/driver_kit.h"

namespace {

using driver_kit::Utf8Line;
using driver_kit::WindowText;

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

    PROCESS_INFORMATION pi;
    if (!driver_kit::StartProcess(L"\"" + std::wstring(argv[3]) + L"\" /uninst", pi)) {
        out("error", "createprocess " + std::to_string(GetLastError()));
        return 3;
    }

    LARGE_INTEGER begin;
    QueryPerformanceCounter(&begin);
    HWND box = nullptr;
    while (since(begin) < timeout) {
        const std::vector<HWND> boxes = driver_kit::VisibleDialogsOf(pi.dwProcessId);
        if (!boxes.empty()) box = boxes.front();
        if (box || WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) break;
    }
    if (!box) {
        out("box", "none");
        TerminateProcess(pi.hProcess, 0xDEAD);
        return 4;
    }
    out("box", "shown");
    out("caption", Utf8Line(WindowText(box)));
    HWND label = GetDlgItem(box, 0xFFFF);
    out("text", Utf8Line(label ? WindowText(label) : std::wstring()));
    std::string buttons;
    EnumChildWindows(box, list_button, reinterpret_cast<LPARAM>(&buttons));
    out("buttons", buttons);

    LARGE_INTEGER answered;
    QueryPerformanceCounter(&answered);
    if (answer == L"close") {
        PostMessageW(box, WM_CLOSE, 0, 0);
    } else {
        driver_kit::PressButton(box, GetDlgItem(box, answer == L"ok" ? IDOK : IDCANCEL));
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

    // The copy that finishes the uninstall and any verb handler; ended
    // ones have done their work already.
    std::vector<HANDLE> kids = driver_kit::ChildProcessesOf(pi.dwProcessId);
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
