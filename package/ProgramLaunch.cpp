#include "package/ProgramLaunch.h"

#include "framework/WindowsApi.h"

#include <cwchar>

int LaunchProgram(const wchar_t* programPath, const wchar_t* arguments, LaunchedProgram* launched) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // A command line that does not fit is a failed launch, never a cut one.
    std::wstring commandLine = L"\"" + std::wstring(programPath) + L"\"";
    if (arguments != nullptr && arguments[0] != L'\0') {
        commandLine.push_back(L' ');
        commandLine += arguments;
    }
    if (commandLine.size() >= kLaunchCommandLineCapacity) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // The program starts in its own directory, never in the launcher's (often
    // a downloads folder), where a DLL it looks for and the system lacks
    // would be searched too.
    wchar_t directory[MAX_PATH] = {};
    const wchar_t* lastSeparator = std::wcsrchr(programPath, L'\\');
    if (lastSeparator == nullptr) return 0;
    const size_t directoryLength = static_cast<size_t>(lastSeparator - programPath);
    if (directoryLength == 0 || directoryLength >= MAX_PATH) return 0;
    std::wmemcpy(directory, programPath, directoryLength);
    // "C:" alone names the drive's current directory: keep its root.
    if (directoryLength == 2 && directory[1] == L':') directory[2] = L'\\';
    std::wstring writable = commandLine;  // CreateProcessW may write into it
    if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                          &startup, &process)) {
        return 0;
    }
    ::CloseHandle(process.hThread);
    if (launched != nullptr) {
        launched->processId = process.dwProcessId;
        launched->commandLine = commandLine;
        if (launched->keepProcess) {
            launched->process = process.hProcess;
            return 1;
        }
    }
    ::CloseHandle(process.hProcess);
    return 1;
}
