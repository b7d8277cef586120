// The launcher's command line, for deployment: run without arguments it does
// what it always did; switches only add. Portable, tested natively.
//
//   /quiet       no window of the launcher's own (no progress window, no
//                conflict message): the exit code and the log tell
//   /wait        wait for the installer and end with its exit code
//   /log <file>  the run's log goes to file instead of the temporary directory
//   /?, /help    the switches, in a message box
//
// Switches are matched without regard to case, with "/" or "-". Every other
// argument, and everything after "--", is handed to the installer.
#pragma once

#include "app/Layer.h"

#include <optional>
#include <string>
#include <vector>

struct LaunchOptions {
    bool quiet = false;
    bool wait = false;
    bool help = false;
    std::optional<std::wstring> logPath;
    std::vector<std::wstring> installerArguments;
    std::wstring usageError;  // not empty: the command line is wrong, and why
};

// arguments: the command line's arguments, the program's own name left out.
LaunchOptions ParseLaunchOptions(const std::vector<std::wstring>& arguments);

// argument quoted so that the installer's command-line parser (the rules of
// CommandLineToArgvW and the C run-time library) reads it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

// The installer's arguments: "/Upgrade" for an upgrade, then each argument
// handed on, quoted; "" or "/Upgrade" alone without any, as always.
std::wstring InstallerArguments(bool upgrade, const std::vector<std::wstring>& handedOn);
