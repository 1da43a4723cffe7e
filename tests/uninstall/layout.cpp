// Lays out a per-user install of the product in a Wine prefix, as the real
// installer would leave it, plus whatever shortcuts a test asks for.
//
//   uninstall_layout <program.exe> [option]...
//
//   <place>=<kind>      a launch shortcut; place is desktop, startmenu,
//                       programs, quicklaunch, pinned-taskbar or
//                       pinned-startmenu; kind is ours, upper (ours, target
//                       in other letter case) or decoy (same name, another
//                       program)
//   programs-uninst     the uninstall shortcut in the Programs folder
//   no-key              leave the uninstall key out
//   file=<dir>\<name>   a user's own file; dir is program or programs
//
// Prints the folders and files it made as UTF-8 key=value lines.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../wine/driver_kit.h"

namespace {

const wchar_t kDisplayName[] = L"Lumora网址大全桌面版";
const wchar_t kLinkName[] = L"Lumora网址大全.lnk";
const wchar_t kUninstallLinkName[] = L"卸载Lumora网址大全.lnk";
const wchar_t kUninstallKeys[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// Another program of the same name elsewhere: its links must be left alone.
const wchar_t kDecoyTarget[] = L"C:\\Program Files\\Corvales Other\\corvalesmgr.exe";

[[noreturn]] void fail(const char* what, unsigned long code) {
    std::fprintf(stderr, "layout: %s failed (%lu)\n", what, code);
    std::exit(1);
}

void out(const char* key, const std::wstring& value) {
    std::printf("%s=%s\n", key, driver_kit::Utf8(value).c_str());
}

std::wstring folder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path)))
        fail("SHGetFolderPathW", static_cast<unsigned long>(csidl));
    std::wstring s(path);
    if (s.back() != L'\\') s += L'\\';
    return s;
}

void make_dirs(const std::wstring& dir) {
    const int rc = SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
    if (rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS && rc != ERROR_FILE_EXISTS)
        fail("SHCreateDirectoryExW", static_cast<unsigned long>(rc));
}

void write_file(const std::wstring& path, const char* text) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) fail("CreateFileW", GetLastError());
    DWORD written = 0;
    WriteFile(f, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(f);
}

// Made as the installer makes it, so the uninstaller reads a real link.
void make_link(const std::wstring& path, const std::wstring& target, const wchar_t* args) {
    make_dirs(path.substr(0, path.rfind(L'\\')));
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        fail("CoCreateInstance", 0);
    link->SetPath(target.c_str());
    link->SetArguments(args);
    link->SetWorkingDirectory(target.substr(0, target.rfind(L'\\')).c_str());
    link->SetIconLocation(target.c_str(), 0);
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))))
        fail("QueryInterface", 0);
    const HRESULT hr = file->Save(path.c_str(), TRUE);
    if (FAILED(hr)) fail("IPersistFile::Save", static_cast<unsigned long>(hr));
    file->Release();
    link->Release();
}

// What the uninstaller will read back, so a test sees any rewriting.
std::wstring raw_target(const std::wstring& path) {
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    wchar_t target[MAX_PATH] = {};
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IShellLinkW, reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(path.c_str(), STGM_READ)))
        link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
    if (file) file->Release();
    if (link) link->Release();
    return target;
}

HKEY create_key(HKEY root, const std::wstring& name) {
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExW(root, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                    nullptr);
    if (rc != ERROR_SUCCESS) fail("RegCreateKeyExW", static_cast<unsigned long>(rc));
    return key;
}

void set_string(HKEY key, const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void set_dword(HKEY key, const wchar_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void write_uninstall_key(const std::wstring& exe) {
    HKEY key = create_key(HKEY_CURRENT_USER, std::wstring(kUninstallKeys) + kDisplayName);
    set_string(key, L"DisplayName", kDisplayName);
    set_string(key, L"DisplayIcon", exe + L",0");
    set_string(key, L"UninstallString", L"\"" + exe + L"\" /uninst");
    set_string(key, L"DisplayVersion", L"1.0.0.0");
    set_string(key, L"Publisher", L"Lumora");
    set_dword(key, L"NoModify", 1);
    set_dword(key, L"NoRepair", 1);
    RegCloseKey(key);
    key = create_key(HKEY_CURRENT_USER,
                     std::wstring(kUninstallKeys) + kDisplayName + L"\\Components");
    set_string(key, L"Main", exe);
    RegCloseKey(key);
}

// Its name starts with ours: a delete that matched by prefix would take it.
void write_sibling_key() {
    HKEY key = create_key(HKEY_CURRENT_USER,
                          std::wstring(kUninstallKeys) + kDisplayName + L" Helper");
    set_string(key, L"DisplayName", std::wstring(kDisplayName) + L" Helper");
    RegCloseKey(key);
}

std::wstring upper_file_name(const std::wstring& path) {
    std::wstring s = path;
    for (std::size_t i = s.rfind(L'\\') + 1; i < s.size(); ++i)
        if (s[i] >= L'a' && s[i] <= L'z') s[i] = static_cast<wchar_t>(s[i] - 32);
    return s;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: uninstall_layout <program.exe> [option]...\n");
        return 2;
    }
    if (FAILED(CoInitialize(nullptr))) fail("CoInitialize", 0);

    const std::wstring appData = folder(CSIDL_APPDATA);
    const std::wstring install = appData + L"corvalesmgr\\";
    const std::wstring exe = install + L"corvalesmgr.exe";
    const std::wstring programs = folder(CSIDL_PROGRAMS) + kDisplayName + L"\\";
    const std::wstring quickLaunch = appData + L"Microsoft\\Internet Explorer\\Quick Launch\\";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);

    make_dirs(install);
    if (!CopyFileW(argv[1], exe.c_str(), FALSE)) fail("CopyFileW", GetLastError());
    write_file(install + L"config.ini", "[main]\r\nhome=1\r\n");
    make_link(install + kUninstallLinkName, exe, L"/uninst");
    const std::wstring decoy = kDecoyTarget;
    make_dirs(decoy.substr(0, decoy.rfind(L'\\')));
    if (!CopyFileW(argv[1], kDecoyTarget, FALSE)) fail("CopyFileW", GetLastError());
    write_sibling_key();

    out("appdata", appData);
    out("desktop", folder(CSIDL_DESKTOPDIRECTORY));
    out("startmenu", folder(CSIDL_STARTMENU));
    out("programs", programs);
    out("temp", temp);
    out("install", install);
    out("exe", exe);

    bool key = true;
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const std::size_t eq = arg.find(L'=');
        const std::wstring name = arg.substr(0, eq);
        const std::wstring value = eq == std::wstring::npos ? L"" : arg.substr(eq + 1);
        if (name == L"no-key") {
            key = false;
        } else if (name == L"programs-uninst") {
            make_link(programs + kUninstallLinkName, exe, L"/uninst");
        } else if (name == L"file") {
            const std::size_t slash = value.find(L'\\');
            const std::wstring where = value.substr(0, slash);
            const std::wstring dir = where == L"program" ? install : programs;
            make_dirs(dir);
            write_file(dir + value.substr(slash + 1), "a user's own file\r\n");
        } else {
            std::wstring dir;
            if (name == L"desktop") dir = folder(CSIDL_DESKTOPDIRECTORY);
            else if (name == L"startmenu") dir = folder(CSIDL_STARTMENU);
            else if (name == L"programs") dir = programs;
            else if (name == L"quicklaunch") dir = quickLaunch;
            else if (name == L"pinned-taskbar") dir = quickLaunch + L"User Pinned\\TaskBar\\";
            else if (name == L"pinned-startmenu") dir = quickLaunch + L"User Pinned\\StartMenu\\";
            else fail("unknown option", static_cast<unsigned long>(i));
            std::wstring target;
            if (value == L"ours") target = exe;
            else if (value == L"upper") target = upper_file_name(exe);
            else if (value == L"decoy") target = kDecoyTarget;
            else fail("unknown kind", static_cast<unsigned long>(i));
            make_link(dir + kLinkName, target, L"");
            const std::string key(name.begin(), name.end());
            out(("link-" + key).c_str(), dir + kLinkName);
            out(("target-" + key).c_str(), raw_target(dir + kLinkName));
        }
    }
    if (key) write_uninstall_key(exe);
    CoUninitialize();
    return 0;
}
