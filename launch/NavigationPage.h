#pragma once

#include <string>

#include "os/System.h"

// Which shortcut started the run.
using LaunchSource = int;
constexpr LaunchSource kLaunchFromDesktop = 1;
constexpr LaunchSource kLaunchFromTaskbar = 2;
constexpr LaunchSource kLaunchFromStartMenu = 3;

extern const wchar_t* const NavigationHomeUrl;

// The home address with the tag of the shortcut that started the run.
std::wstring NavigationAddress(LaunchSource source);

// Asks the shell to open the home page; true when the shell accepted.
bool OpenNavigationPage(os::System& sys, LaunchSource source);
