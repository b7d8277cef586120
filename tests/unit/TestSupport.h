// Small helpers for the Windows tests: where the test runs from, scratch
// directories that clean up after themselves, whole-file reads and writes,
// and starting a process to see its exit code.
#pragma once

#include "framework/WindowsApi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tirn::test {

// Directory of the running test executable, with a trailing backslash.
std::wstring ExecutableDirectory();

// A fresh directory under the temporary directory, removed with its
// contents on destruction.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::wstring& Path() const { return m_path; }  // no trailing backslash
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

  private:
    std::wstring m_path;
};

void RemoveTree(const std::wstring& path);
std::vector<uint8_t> ReadWholeFile(const std::wstring& path);
void WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);
void CreateEmptyFile(const std::wstring& path);

// The installation record's key. Every launcher keeps it in the 32-bit
// registry view, whatever its own width, so the tests name that view too.
inline constexpr wchar_t kRecordKey[] = L"Software\\Tirn";
inline constexpr REGSAM kRecordView = KEY_WOW64_32KEY;
void DeleteRecord(REGSAM view = kRecordView);

// Starts a command line, trying again (and saying so) when the start itself
// fails; false, with process left empty, when it never starts.
bool StartProcess(const std::wstring& commandLine, PROCESS_INFORMATION& process, DWORD flags = 0,
                  wchar_t* environment = nullptr);

// Runs a command line and returns its exit code; ~0u when it cannot start or
// does not end within the time-out.
DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 30000);

// The host (Linux) side of Wine, for what no Windows process can do there:
// the host path of a Windows path ("" when there is none), and a shell
// command run on the host to its end (true when it ran).
std::string HostPath(const std::wstring& windowsPath);
bool RunOnHost(const std::string& shellCommand);
// A host symbolic link at link (a Windows path) to target; Wine shows one to
// a directory as a reparse point.
bool MakeHostLink(const std::wstring& link, const std::wstring& target);

}  // namespace tirn::test
