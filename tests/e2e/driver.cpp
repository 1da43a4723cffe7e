// Windows-side helper for the end-to-end tests: starts a program with an
// exact command line and reports what it did as UTF-8 "key=value" lines.
//
//   driver run  <timeout-ms> <cmdline>
//   driver box  <ok|cancel|close|none> <timeout-ms> <cmdline>
//   driver time <runs> <cmdline>
//   driver hold                    keep the desktop up until stdin closes
//
// <cmdline> is "hex:" followed by 4 hex digits per UTF-16 unit, "file:PATH"
// naming a file holding such hex (for lines longer than our own command line
// can carry), or "text:" followed by the line itself.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../wine/driver_kit.h"

namespace {

using driver_kit::Utf8;
using driver_kit::WindowText;

// Bounds the wait for children a program leaves behind (e.g. the browser
// launcher started by ShellExecute), so a stuck one can't hang a test.
constexpr DWORD kChildrenTimeoutMs = 20000;

void out(const std::string& line) {
    std::string s = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

// Keeps every report on one line whatever the text holds; the test decodes
// the same escapes. Lone surrogates are shown as \uXXXX instead of U+FFFD.
std::string escaped(const std::wstring& w) {
    std::wstring plain;
    std::string res;
    auto flush = [&] { res += Utf8(plain); plain.clear(); };
    for (size_t i = 0; i < w.size(); ++i) {
        wchar_t c = w[i];
        bool high = c >= 0xD800 && c <= 0xDBFF;
        bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            plain += c;
            plain += w[++i];
        } else if (c < 0x20 || c == L'\\' || high || low) {
            flush();
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            res += buf;
        } else {
            plain += c;
        }
    }
    flush();
    return res;
}

std::string hex32(unsigned long v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", v);
    return buf;
}

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "driver: %s\n", why);
    std::exit(2);
}

bool decode_hex(const std::wstring& hex, std::wstring& line) {
    if (hex.size() % 4 != 0) return false;
    line.clear();
    for (size_t i = 0; i < hex.size(); i += 4) {
        unsigned v = 0;
        for (size_t j = i; j < i + 4; ++j) {
            wchar_t c = hex[j];
            int d = c >= L'0' && c <= L'9' ? c - L'0'
                  : c >= L'a' && c <= L'f' ? c - L'a' + 10
                  : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        line += static_cast<wchar_t>(v);
    }
    return true;
}

std::wstring command_line(const std::wstring& arg) {
    std::wstring line;
    if (arg.rfind(L"text:", 0) == 0) return arg.substr(5);
    if (arg.rfind(L"hex:", 0) == 0) {
        if (!decode_hex(arg.substr(4), line)) usage("bad hex command line");
        return line;
    }
    if (arg.rfind(L"file:", 0) == 0) {
        HANDLE f = CreateFileW(arg.substr(5).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) usage("cannot open the command line file");
        std::string bytes;
        char buf[65536];
        DWORD got = 0;
        while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) bytes.append(buf, got);
        CloseHandle(f);
        while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
        if (!decode_hex(std::wstring(bytes.begin(), bytes.end()), line)) usage("bad hex in the command line file");
        return line;
    }
    usage("command line must start with text:, hex: or file:");
}

DWORD parse_number(const wchar_t* s) {
    wchar_t* end = nullptr;
    unsigned long v = wcstoul(s, &end, 10);
    if (!*s || *end) usage("expected a number");
    return static_cast<DWORD>(v);
}

PROCESS_INFORMATION start(const std::wstring& line) {
    PROCESS_INFORMATION pi;
    if (!driver_kit::StartProcess(line, pi)) {
        out("error=createprocess " + std::to_string(GetLastError()));
        std::exit(3);
    }
    return pi;
}

void report_exit(HANDLE process, DWORD started) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    out("exit=" + std::to_string(code));
    out("ms=" + std::to_string(GetTickCount() - started));
}

// Waits for the processes the program started (ShellExecute's launcher) so
// that whatever they do has been done when we report.
void await_children(DWORD parent) {
    const std::vector<HANDLE> kids = driver_kit::ChildProcessesOf(parent);
    DWORD deadline = GetTickCount() + kChildrenTimeoutMs;
    bool all = true;
    for (HANDLE h : kids) {
        DWORD now = GetTickCount();
        DWORD left = now < deadline ? deadline - now : 0;
        if (WaitForSingleObject(h, left) != WAIT_OBJECT_0) all = false;
        CloseHandle(h);
    }
    out("children=" + std::to_string(kids.size()) + (all ? "" : " (some still running)"));
}

// Returns the exit wait result; on timeout the program is killed.
bool wait_or_kill(HANDLE process, DWORD timeout_ms) {
    if (WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0) return true;
    TerminateProcess(process, 0xDEAD);
    WaitForSingleObject(process, 5000);
    out("exit=timeout");
    return false;
}

int cmd_run(DWORD timeout_ms, const std::wstring& line) {
    DWORD begin = GetTickCount();
    PROCESS_INFORMATION pi = start(line);
    if (wait_or_kill(pi.hProcess, timeout_ms)) {
        report_exit(pi.hProcess, begin);
        await_children(pi.dwProcessId);
    }
    CloseHandle(pi.hProcess);
    return 0;
}

struct Children {
    std::string buttons;
    HWND ok = nullptr;
    HWND cancel = nullptr;
    HWND icon = nullptr;
};

BOOL CALLBACK list_child(HWND hwnd, LPARAM lp) {
    auto* c = reinterpret_cast<Children*>(lp);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    int id = GetDlgCtrlID(hwnd);
    if (lstrcmpiW(cls, L"Button") == 0 && IsWindowVisible(hwnd)) {
        if (!c->buttons.empty()) c->buttons += ",";
        c->buttons += std::to_string(id) + ":" + escaped(WindowText(hwnd));
        if (id == IDOK) c->ok = hwnd;
        if (id == IDCANCEL) c->cancel = hwnd;
    } else if (lstrcmpiW(cls, L"Static") == 0 && (GetWindowLongW(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        c->icon = hwnd;
    }
    return TRUE;
}

void describe_box(HWND box, Children& kids) {
    out("box=shown");
    out("caption=" + escaped(WindowText(box)));
    HWND text = GetDlgItem(box, 0xFFFF);
    out("text=" + escaped(text ? WindowText(text) : std::wstring()));
    EnumChildWindows(box, list_child, reinterpret_cast<LPARAM>(&kids));
    out("buttons=" + kids.buttons);
    LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
    out("default=" + std::to_string(HIWORD(def) == DC_HASDEFID ? LOWORD(def) : 0));
    DWORD_PTR icon = 0;
    if (kids.icon) SendMessageTimeoutW(kids.icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
    out(std::string("icon=") + (icon ? "yes" : "no"));
    out("style=" + hex32(static_cast<unsigned long>(GetWindowLongW(box, GWL_STYLE))));
    out("exstyle=" + hex32(static_cast<unsigned long>(GetWindowLongW(box, GWL_EXSTYLE))));
}

void press(HWND box, const Children& kids, const std::wstring& action) {
    if (action == L"close") {
        PostMessageW(box, WM_CLOSE, 0, 0);
        return;
    }
    HWND button = action == L"ok" ? kids.ok : kids.cancel;
    if (!button) {
        out("error=no such button");
        PostMessageW(box, WM_CLOSE, 0, 0);
        return;
    }
    driver_kit::PressButton(box, button);
}

int cmd_box(const std::wstring& action, DWORD timeout_ms, const std::wstring& line) {
    if (action != L"ok" && action != L"cancel" && action != L"close" && action != L"none") usage("box wants ok, cancel, close or none");
    DWORD begin = GetTickCount();
    PROCESS_INFORMATION pi = start(line);
    HWND found = nullptr;
    bool exited = false;
    while (GetTickCount() - begin < timeout_ms) {
        const std::vector<HWND> boxes = driver_kit::VisibleDialogsOf(pi.dwProcessId);
        if (!boxes.empty()) found = boxes.front();
        if (found || exited) break;
        // Look once more after the exit: a box shown just before it counts.
        exited = WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0;
    }
    if (found) {
        Children kids;
        describe_box(found, kids);
        // With "none" a box is a failure, but still close it so the program ends.
        press(found, kids, action == L"none" ? L"close" : action);
    } else {
        out("box=none");
    }
    DWORD spent = GetTickCount() - begin;
    if (wait_or_kill(pi.hProcess, timeout_ms > spent ? timeout_ms - spent : 0)) {
        report_exit(pi.hProcess, begin);
        await_children(pi.dwProcessId);
    }
    CloseHandle(pi.hProcess);
    return 0;
}

int cmd_time(DWORD runs, const std::wstring& line) {
    // Be the desktop's user for the whole series, so no run pays for
    // starting it.
    GetDesktopWindow();
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    for (DWORD i = 0; i < runs; ++i) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        PROCESS_INFORMATION pi = start(line);
        bool done = WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0;
        QueryPerformanceCounter(&t1);
        if (!done) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            out("exit=timeout");
            return 1;
        }
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        char buf[64];
        std::snprintf(buf, sizeof buf, "ms=%.3f exit=%lu",
                      1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart),
                      static_cast<unsigned long>(code));
        out(buf);
    }
    return 0;
}

// Wine ends the desktop process a second after its last user leaves, and
// the next GUI program pays for starting it again; this user stays until
// the test closes our stdin (or dies).
int cmd_hold() {
    GetDesktopWindow();
    out("ready");
    char buf[256];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &got, nullptr) && got) {
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) usage("usage: driver run|box|time ...");
    std::wstring cmd = argv[1];
    if (cmd == L"run" && argc == 4) return cmd_run(parse_number(argv[2]), command_line(argv[3]));
    if (cmd == L"box" && argc == 5) return cmd_box(argv[2], parse_number(argv[3]), command_line(argv[4]));
    if (cmd == L"time" && argc == 4) return cmd_time(parse_number(argv[2]), command_line(argv[3]));
    if (cmd == L"hold" && argc == 2) return cmd_hold();
    usage("usage: driver run <timeout-ms> <cmdline> | box <ok|cancel|close|none> <timeout-ms> <cmdline> | time <runs> <cmdline> | hold");
}
