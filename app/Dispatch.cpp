#include "app/Dispatch.h"

#include "app/CmdLineParser.h"
#include "app/CommandTail.h"
#include "launch/NavigationPage.h"
#include "product/ProductNames.h"
#include "uninstall/Uninstaller.h"

const wchar_t* const UninstallConfirmationCaption = L"卸载提示";

std::wstring UninstallConfirmationText() {
    return std::wstring(L"是否完全卸载") + ProductDisplayName + L"？";
}

namespace {

constexpr std::uint32_t kHandOverPauseMs = 2000;

void RunUninstallPhase(os::System& sys, int phase) {
    CUninstaller uninstaller(sys);
    uninstaller.Run(phase);
}

}  // namespace

int RunEntry(os::System& sys, const std::wstring& tail) {
    CCmdLineParser parser(false);
    parser.Parse(tail.c_str());

    if (parser.HasKey(L"desktop")) {
        OpenNavigationPage(sys, kLaunchFromDesktop);
    } else if (parser.HasKey(L"startmenu")) {
        OpenNavigationPage(sys, kLaunchFromStartMenu);
    } else if (parser.HasKey(L"taskbar")) {
        OpenNavigationPage(sys, kLaunchFromTaskbar);
    } else if (parser.HasKey(L"uninst")) {
        if (parser.HasKey(L"del")) {
            // Gives the first process time to exit and free the installed file.
            sys.Sleep(kHandOverPauseMs);
            RunUninstallPhase(sys, 1);
        } else {
            const std::wstring text = UninstallConfirmationText();
            if (sys.MessageBoxW(text.c_str(), UninstallConfirmationCaption,
                                os::kMbOkCancelIconQuestion) == os::kIdOk)
                RunUninstallPhase(sys, 0);
        }
    } else if (parser.HasKey(L"install")) {
        // Accepted so that an installer may call it; nothing to do.
    } else {
        OpenNavigationPage(sys, kLaunchFromDesktop);
    }
    return 0;
}

int ProgramMain(os::System& sys) {
    // The second uninstall process runs from the temporary directory, where
    // anyone may have left a DLL: take later DLLs from System32 only.
    sys.SetDefaultDllDirectories(os::kLoadLibrarySearchSystem32);
    return RunEntry(sys, FormCommandTail(sys.GetCommandLineW()));
}
