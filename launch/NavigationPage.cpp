#include "launch/NavigationPage.h"

#include "launch/HomeUrl.h"
#include "sysinfo/ShellExecute.h"

const wchar_t* const NavigationHomeUrl = CORVALES_NAVIGATION_HOME_URL;

std::wstring NavigationAddress(LaunchSource source) {
    std::wstring address = NavigationHomeUrl;
    switch (source) {
        case kLaunchFromDesktop: address += L"?f=aloneicon&desk"; break;
        case kLaunchFromTaskbar: address += L"?f=aloneicon&task"; break;
        case kLaunchFromStartMenu: address += L"?f=aloneicon&stmn"; break;
        default: break;
    }
    return address;
}

bool OpenNavigationPage(os::System& sys, LaunchSource source) {
    const std::wstring address = NavigationAddress(source);
    const std::intptr_t result =
        ShellExecuteInApartment(sys, L"open", address.c_str(), nullptr, nullptr, os::kSwShowNormal);
    return result > 32;
}
