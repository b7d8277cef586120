// The log of a run: a UTF-8 text file, by default in the temporary directory
// as TirnHomeISSetup_<yyyymmddhhmmss>_<pid>.log, one line per fact, decision
// and step, each written as it happens, so that a run that ends abruptly
// leaves the lines before. A log that cannot be made or written never
// changes what the run does.
//
// The launcher runs elevated and the temporary directory is the user's: the
// file is made create-only and never through a link; when its name is taken,
// another is tried. Old logs are left alone.
//
// Threads: the main thread and the road's worker both write; each line is
// written whole, under a lock.
#pragma once

#include "app/Layer.h"

#include "framework/ScopedHandle.h"
#include "framework/WindowsApi.h"

#include <string>

class RunLog {
  public:
    RunLog() = default;
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Makes the log at path, or under its default name in the temporary
    // directory when path is null. False when no file could be made.
    bool Create(const wchar_t* path = nullptr);
    bool IsOpen() const { return m_file.IsValid(); }
    const std::wstring& Path() const { return m_path; }

    // One line, after the time of day: "hh:mm:ss.mmm <text>".
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));

    static std::string Utf8(const wchar_t* text);
    // "error <n> (<the system's message>)".
    static std::string DescribeError(DWORD error);

  private:
    SRWLOCK m_lock = SRWLOCK_INIT;
    ScopedHandle m_file;
    std::wstring m_path;
};
