// Windows-side helper of the installer tests. Reports UTF-8 key=value lines.
//
//   shell_helper open <timeout-ms> <file>   open <file> as the shell does (its
//                                           default verb; a .lnk starts its
//                                           target) and wait until everything
//                                           started from it has ended
//   shell_helper link <file.lnk>            what a shortcut holds
//   shell_helper folders                    the user's shell folders
//   shell_helper ui <timeout-ms> <cmdline> <step>...
//                                           start a wizard, take the steps,
//                                           wait for it to end. Steps:
//                                           click=<id>         press a button of
//                                                              the wizard (the
//                                                              first window) once
//                                                              it is enabled
//                                           click=<id>@<text>  ... once it reads
//                                                              <text>
//                                           box=<id>           wait for another
//                                                              window (a message
//                                                              box), report its
//                                                              texts, press <id>
//   shell_helper hold <timeout-ms> <release-file> <cmdline>
//                                           start a program that shows a box
//                                           (so it keeps running), say
//                                           "ready", and once <release-file>
//                                           exists answer the box with Cancel
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../wine/driver_kit.h"

namespace {

void out(const char* key, const std::wstring& value) {
    std::printf("%s=%s\n", key, driver_kit::Utf8Line(value).c_str());
    std::fflush(stdout);
}

void out(const char* key, unsigned long value) { out(key, std::to_wstring(value)); }

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: shell_helper open <timeout-ms> <file> | link <file.lnk> | folders |"
                         " ui <timeout-ms> <cmdline> <click=ID|box=ID>... |"
                         " hold <timeout-ms> <release-file> <cmdline>\n");
    std::exit(2);
}

struct Started {
    DWORD pid;
    HANDLE handle;
};

std::wstring image_of(HANDLE process) {
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameW(process, 0, image, &size)) return {};
    return image;
}

// Wine's own services (explorer, services.exe) are started as children of
// the first program in a session and live on; they are not what we opened.
bool is_wine_service(HANDLE process) {
    wchar_t dir[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    const std::wstring image = image_of(process);
    return n > 0 && image.size() > n && CompareStringOrdinal(image.c_str(), static_cast<int>(n), dir,
                                                             static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

// Adds the processes started by any process in `seen` since the last look;
// their parents may have ended already.
bool look_for_new(std::vector<Started>& seen, std::vector<DWORD>& ignored) {
    bool found = false;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
        bool known = false, parent = false;
        for (const Started& s : seen) {
            known = known || s.pid == pe.th32ProcessID;
            parent = parent || s.pid == pe.th32ParentProcessID;
        }
        for (DWORD pid : ignored) known = known || pid == pe.th32ProcessID;
        if (known || !parent) continue;
        HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.th32ProcessID);
        if (!h) continue;
        if (pe.th32ParentProcessID == GetCurrentProcessId() && is_wine_service(h)) {
            ignored.push_back(pe.th32ProcessID);
            CloseHandle(h);
            continue;
        }
        seen.push_back({pe.th32ProcessID, h});
        found = true;
    }
    CloseHandle(snap);
    return found;
}

// Wine starts a shortcut's target without handing back its process, so what
// was started is found as our descendants and followed until all have ended.
int cmd_open(DWORD timeout, const wchar_t* file) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpFile = file;
    info.nShow = SW_SHOWNORMAL;
    const DWORD begin = GetTickCount();
    std::vector<Started> seen{{GetCurrentProcessId(), nullptr}};
    std::vector<DWORD> ignored;
    if (!ShellExecuteExW(&info)) {
        out("error", L"ShellExecuteExW " + std::to_wstring(GetLastError()));
        return 3;
    }
    if (info.hProcess) seen.push_back({GetProcessId(info.hProcess), info.hProcess});
    for (;;) {
        const bool found = look_for_new(seen, ignored);
        bool running = false;
        for (const Started& s : seen)
            if (s.handle && WaitForSingleObject(s.handle, 0) == WAIT_TIMEOUT) running = true;
        if (!running && !found) break;
        if (GetTickCount() - begin > timeout) {
            out("exit", L"timeout");
            return 4;
        }
        Sleep(5);
    }
    out("processes", static_cast<unsigned long>(seen.size() - 1));
    if (seen.size() > 1) {
        // The first one started is the shortcut's target.
        DWORD code = 0;
        GetExitCodeProcess(seen[1].handle, &code);
        out("exit", code);
        out("image", image_of(seen[1].handle));
    }
    for (const Started& s : seen)
        if (s.handle) CloseHandle(s.handle);
    return 0;
}

int cmd_link(const wchar_t* file) {
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) ||
        FAILED(persist->Load(file, STGM_READ))) {
        out("error", L"cannot load the link");
        return 3;
    }
    wchar_t buf[INFOTIPSIZE] = {};
    // The raw path is what the program's uninstall compares with its own.
    if (SUCCEEDED(link->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH))) out("target", buf);
    buf[0] = L'\0';
    if (SUCCEEDED(link->GetArguments(buf, INFOTIPSIZE))) out("arguments", buf);
    buf[0] = L'\0';
    if (SUCCEEDED(link->GetWorkingDirectory(buf, MAX_PATH))) out("workdir", buf);
    buf[0] = L'\0';
    int index = 0;
    if (SUCCEEDED(link->GetIconLocation(buf, MAX_PATH, &index))) {
        out("icon", buf);
        out("icon_index", static_cast<unsigned long>(index));
    }
    persist->Release();
    link->Release();
    return 0;
}

using driver_kit::PressButton;
using driver_kit::VisibleDialogsOf;
using driver_kit::WindowText;

int cmd_ui(DWORD timeout, const wchar_t* cmdline, int steps, wchar_t** step) {
    PROCESS_INFORMATION pi;
    if (!driver_kit::StartProcess(cmdline, pi)) {
        out("error", L"CreateProcessW " + std::to_wstring(GetLastError()));
        return 3;
    }
    const DWORD begin = GetTickCount();
    auto expired = [&] { return GetTickCount() - begin > timeout; };
    HWND wizard = nullptr;
    std::vector<HWND> answered;
    for (int i = 0; i < steps; ++i) {
        const std::wstring s = step[i];
        const bool box = s.rfind(L"box=", 0) == 0;
        if (!box && s.rfind(L"click=", 0) != 0) {
            out("error", L"bad step " + s);
            TerminateProcess(pi.hProcess, 0xDEAD);
            return 2;
        }
        const int id = _wtoi(s.c_str() + s.find(L'=') + 1);
        // click=<id>@<text>: only once the button reads <text>, as a wizard
        // reuses its buttons from page to page.
        const size_t at = s.find(L'@');
        const std::wstring label = at == std::wstring::npos ? std::wstring() : s.substr(at + 1);
        bool done = false;
        while (!done && !expired()) {
            for (HWND d : VisibleDialogsOf(pi.dwProcessId)) {
                if (!wizard) wizard = d;
                if (box && d != wizard &&
                    std::find(answered.begin(), answered.end(), d) == answered.end()) {
                    HWND label = GetDlgItem(d, 0xFFFF);
                    HWND button = GetDlgItem(d, id);
                    out("box_caption", WindowText(d));
                    out("box_text", label ? WindowText(label) : std::wstring());
                    if (!button) out("error", L"the box has no button " + std::to_wstring(id));
                    else PressButton(d, button);
                    answered.push_back(d);
                    done = true;
                    break;
                }
                HWND button = GetDlgItem(wizard, id);
                if (!box && d == wizard && button && IsWindowVisible(button) && IsWindowEnabled(button) &&
                    (label.empty() || WindowText(button) == label)) {
                    out("clicked", WindowText(button));
                    PressButton(wizard, button);
                    done = true;
                    break;
                }
            }
            if (!done && WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) break;
        }
        if (!done) {
            out("error", L"step not taken: " + s);
            break;
        }
        // The next step must see the state this one brought about.
        Sleep(200);
    }
    const DWORD spent = GetTickCount() - begin;
    if (WaitForSingleObject(pi.hProcess, spent < timeout ? timeout - spent : 0) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 0xDEAD);
        out("exit", L"timeout");
        CloseHandle(pi.hProcess);
        return 4;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    out("exit", code);
    CloseHandle(pi.hProcess);
    return 0;
}

int cmd_hold(DWORD timeout, const wchar_t* release, const wchar_t* cmdline) {
    PROCESS_INFORMATION pi;
    if (!driver_kit::StartProcess(cmdline, pi)) {
        out("error", L"CreateProcessW " + std::to_wstring(GetLastError()));
        return 3;
    }
    const DWORD begin = GetTickCount();
    HWND box = nullptr;
    while (!box && GetTickCount() - begin < timeout) {
        std::vector<HWND> d = VisibleDialogsOf(pi.dwProcessId);
        if (!d.empty()) box = d.front();
        else if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) break;
    }
    if (!box) {
        out("error", L"no box");
        TerminateProcess(pi.hProcess, 0xDEAD);
        return 4;
    }
    out("ready", L"1");
    while (GetFileAttributesW(release) == INVALID_FILE_ATTRIBUTES && GetTickCount() - begin < timeout)
        Sleep(20);
    if (HWND cancel = GetDlgItem(box, IDCANCEL)) PressButton(box, cancel);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 0xDEAD);
        out("exit", L"timeout");
        return 4;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    out("exit", code);
    CloseHandle(pi.hProcess);
    return 0;
}

int cmd_folders() {
    const struct {
        const char* key;
        int csidl;
    } folders[] = {
        {"profile", CSIDL_PROFILE},   {"appdata", CSIDL_APPDATA},   {"desktop", CSIDL_DESKTOPDIRECTORY},
        {"startmenu", CSIDL_STARTMENU}, {"programs", CSIDL_PROGRAMS},
    };
    for (const auto& f : folders) {
        wchar_t path[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathW(nullptr, f.csidl, nullptr, 0, path))) return 3;
        out(f.key, path);
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    out("temp", temp);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) usage();
    const std::wstring cmd = argv[1];
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 5;
    if (cmd == L"open" && argc == 4) return cmd_open(wcstoul(argv[2], nullptr, 10), argv[3]);
    if (cmd == L"link" && argc == 3) return cmd_link(argv[2]);
    if (cmd == L"folders" && argc == 2) return cmd_folders();
    if (cmd == L"hold" && argc == 5) return cmd_hold(wcstoul(argv[2], nullptr, 10), argv[3], argv[4]);
    if (cmd == L"ui" && argc >= 5) return cmd_ui(wcstoul(argv[2], nullptr, 10), argv[3], argc - 4, argv + 4);
    usage();
}
