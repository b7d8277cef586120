#include "tests/unit/TestSupport.h"

#include <cstdio>
#include <stdexcept>

namespace tirn::test {

std::wstring ExecutableDirectory() {
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

void DeleteRecord(REGSAM view) {
    HKEY software = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, &software) !=
        ERROR_SUCCESS) {
        return;
    }
    ::RegDeleteTreeW(software, L"Tirn");
    ::RegCloseKey(software);
}

ScratchDirectory::ScratchDirectory() {
    static LONG counter = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    // Wine reuses process ids across wineserver restarts, and a test that
    // was killed may leave a directory it cannot remove: a name is passed
    // over when it is taken.
    DWORD error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = std::wstring(temp) + L"tirn-test-" + std::to_wstring(::GetCurrentProcessId()) +
                 L"-" + std::to_wstring(::InterlockedIncrement(&counter)) + L"-" +
                 std::to_wstring(::GetTickCount());
        RemoveTree(m_path);
        if (::CreateDirectoryW(m_path.c_str(), nullptr)) return;
        error = ::GetLastError();
    }
    throw std::runtime_error("scratch directory: error " + std::to_string(error));
}

ScratchDirectory::~ScratchDirectory() {
    RemoveTree(m_path);
}

void RemoveTree(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link the tests made on the host: removed itself, never what it
        // leads to.
        const std::string host = HostPath(path);
        if (!host.empty()) RunOnHost("rm -f '" + host + "'");
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        WIN32_FIND_DATAW entry;
        HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
            } while (::FindNextFileW(find, &entry));
            ::FindClose(find);
        }
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::RemoveDirectoryW(path.c_str());
    } else {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    }
}

// Shares delete too: a file that was just renamed into place can still be
// open, with delete access, by the program that renamed it.
std::vector<uint8_t> ReadWholeFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open file for reading");
    std::vector<uint8_t> bytes(::GetFileSize(file, nullptr));
    DWORD read = 0;
    BOOL ok = bytes.empty() ||
              ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    ::CloseHandle(file);
    if (!ok || read != bytes.size()) throw std::runtime_error("cannot read file");
    return bytes;
}

void WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create file");
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    if (!ok || written != bytes.size()) throw std::runtime_error("cannot write file");
}

void CreateEmptyFile(const std::wstring& path) {
    WriteWholeFile(path, {});
}

// Under a loaded shared wineserver a start can fail once where the next one
// succeeds; what is under test is the program, not the start. Each failure
// is told, so a start that never works is still plain to see.
bool StartProcess(const std::wstring& commandLine, PROCESS_INFORMATION& process, DWORD flags,
                  wchar_t* environment) {
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (attempt > 1) ::Sleep(200);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        std::wstring writable = commandLine;
        if (::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, flags, environment,
                             nullptr, &startup, &process)) {
            return true;
        }
        std::fprintf(stderr, "StartProcess: CreateProcess failed (error %lu), attempt %d of %d\n",
                     ::GetLastError(), attempt, kAttempts);
    }
    process = {};
    return false;
}

DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs) {
    PROCESS_INFORMATION process{};
    if (!StartProcess(commandLine, process)) return ~0u;
    ::CloseHandle(process.hThread);
    DWORD code = ~0u;
    if (::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(process.hProcess, &code);
    } else {
        std::fprintf(stderr, "RunAndWait: no end within %lu ms, terminated\n", timeoutMs);
        ::TerminateProcess(process.hProcess, ~0u);
    }
    ::CloseHandle(process.hProcess);
    return code;
}

std::string HostPath(const std::wstring& windowsPath) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName != nullptr ? unixName(windowsPath.c_str()) : nullptr;
    if (name == nullptr) return {};
    std::string path = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return path;
}

// Wine starts a host program as it starts a Windows one, but its process
// handle neither waits for it nor carries its exit code: the command leaves
// a mark when it is done, and callers check what it did.
bool RunOnHost(const std::string& shellCommand) {
    static LONG counter = 0;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring mark = std::wstring(temp) + L"tirn-host-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(::InterlockedIncrement(&counter)) + L".done";
    const std::string hostMark = HostPath(mark);
    if (hostMark.empty() || shellCommand.find('"') != std::string::npos) return false;
    const std::string script = "(" + shellCommand + "); touch '" + hostMark + "'";
    std::wstring command(script.size(), L'\0');
    command.resize(static_cast<size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, script.data(), static_cast<int>(script.size()),
                              command.data(), static_cast<int>(command.size()))));
    PROCESS_INFORMATION process{};
    if (!StartProcess(L"Z:\\bin\\sh -c \"" + command + L"\"", process)) return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    for (int waited = 0; waited < 30000; waited += 10) {
        if (::DeleteFileW(mark.c_str())) return true;
        ::Sleep(10);
    }
    return false;
}

bool MakeHostLink(const std::wstring& link, const std::wstring& target) {
    const std::string hostLink = HostPath(link), hostTarget = HostPath(target);
    if (hostLink.empty() || hostTarget.empty()) return false;
    RunOnHost("ln -sfn '" + hostTarget + "' '" + hostLink + "'");
    return ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tirn::test
