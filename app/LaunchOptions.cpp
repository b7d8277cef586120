#include "app/LaunchOptions.h"

namespace {
// A switch's name without its "/" or "-", in lower case; empty when the
// argument is no switch.
std::wstring SwitchName(const std::wstring& argument) {
    if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) return {};
    std::wstring name = argument.substr(1);
    for (wchar_t& c : name) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return name;
}
}  // namespace

LaunchOptions ParseLaunchOptions(const std::vector<std::wstring>& arguments) {
    LaunchOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (argument == L"--") {
            options.installerArguments.insert(options.installerArguments.end(),
                                              arguments.begin() + static_cast<long>(i) + 1,
                                              arguments.end());
            break;
        }
        const std::wstring name = SwitchName(argument);
        if (name == L"quiet") {
            options.quiet = true;
        } else if (name == L"wait") {
            options.wait = true;
        } else if (name == L"?" || name == L"help") {
            options.help = true;
        } else if (name == L"log") {
            if (i + 1 == arguments.size() || arguments[i + 1] == L"--" ||
                arguments[i + 1].empty()) {
                options.usageError = argument + L" needs a file";
                return options;
            }
            options.logPath = arguments[++i];
        } else {
            options.installerArguments.push_back(argument);
        }
    }
    return options;
}

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quotation mark: doubled there, and
        // one more escapes the mark itself.
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    // Before the closing mark, every backslash is doubled.
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring InstallerArguments(bool upgrade, const std::vector<std::wstring>& handedOn) {
    std::wstring arguments = upgrade ? L"/Upgrade" : L"";
    for (const std::wstring& argument : handedOn) {
        if (!arguments.empty()) arguments.push_back(L' ');
        arguments += QuoteArgument(argument);
    }
    return arguments;
}
