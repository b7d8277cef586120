// File helpers for tirn-pack: an owned file, exact reads and writes, and an
// output written under a temporary name and renamed into place only when
// complete. Paths are UTF-8 everywhere; Files.cpp speaks POSIX, and
// FilesWindows.cpp the Win32 wide-character calls, so any name works.
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/ToolExit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tirn::pack {

// What separates directories in a path given on the command line.
#ifdef _WIN32
inline constexpr const char* kPathSeparators = "/\\:";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

// The platform's file: a descriptor, or a HANDLE as an integer.
using NativeFile = intptr_t;
inline constexpr NativeFile kNoFile = -1;

#ifdef _WIN32
// A UTF-8 path as the wide-character calls take it. Throws ToolError
// (kExitUsage) for text that is not UTF-8.
std::wstring WidePath(const std::string& path);
#endif

// Whether standard error is a terminal (for the progress line).
bool StandardErrorIsTerminal();

// The program's arguments as UTF-8 (on Windows read from the wide command
// line, so that any file name survives).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

class File {
  public:
    File() = default;
    File(NativeFile file, std::string path) : m_file(file), m_path(std::move(path)) {}
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    static File OpenForReading(const std::string& path);
    uint64_t Size() const;
    // Seconds since 1970 (UTC) of the last modification.
    int64_t ModifiedTime() const;
    // Reads exactly length bytes at offset (fewer only at the end of file).
    size_t ReadAt(uint64_t offset, void* buffer, size_t length) const;
    void Write(const void* data, size_t length);
    // Overwrites bytes already written, without moving the write position.
    void WriteAt(uint64_t offset, const void* data, size_t length);
    // Everything written is on the disk.
    void Flush();
    const std::string& Path() const { return m_path; }
    void Close();

  private:
    NativeFile m_file = kNoFile;
    std::string m_path;
};

// Written as "<path>.tmp-<process id>"; Commit renames it to path, otherwise the
// destructor removes it: a failed run leaves nothing half-written behind.
class AtomicOutput {
  public:
    AtomicOutput(const std::string& path, unsigned mode);
    ~AtomicOutput();
    File& Stream() { return m_file; }
    void Commit();

  private:
    std::string m_path;
    std::string m_temporaryPath;
    File m_file;
    bool m_committed = false;
};

// A scratch file in the temporary directory, removed on destruction.
class ScratchFile {
  public:
    ScratchFile();
    ~ScratchFile();
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

}  // namespace tirn::pack
