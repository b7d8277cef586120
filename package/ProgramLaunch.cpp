#include "package/ProgramLaunch.h"

#include "app/framework/WindowsApi.h"

#include <cwchar>

int LaunchProgram(const wchar_t* programPath, const wchar_t* arguments) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // Room for the longest path the extraction hands back (MAX_PATH - 1
    // units), its quotes, a space and "/Upgrade", with margin; a command line
    // that still does not fit is a failed launch, never a cut one.
    constexpr int kCommandLineCapacity = 2 * MAX_PATH;
    wchar_t commandLine[kCommandLineCapacity] = {};
    const int formed =
        arguments != nullptr && arguments[0] != L'\0'
            ? std::swprintf(commandLine, kCommandLineCapacity, L"\"%ls\" %ls", programPath,
                            arguments)
            : std::swprintf(commandLine, kCommandLineCapacity, L"\"%ls\"", programPath);
    if (formed < 0 || formed >= kCommandLineCapacity) return 0;
    if (!::CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return 0;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return 1;
}
