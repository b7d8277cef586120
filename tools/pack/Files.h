// POSIX file helpers for tirn-pack: an owned descriptor, exact reads and
// writes, and an output written under a temporary name and renamed into
// place only when complete.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tirn::pack {

// What separates directories in a path given on the command line.
inline constexpr const char* kPathSeparators = "/";

// A failure with the exit code the tool ends with.
struct ToolError : std::runtime_error {
    ToolError(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode(exitCode) {}
    int exitCode;
};

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 2,
    kExitInput = 3,      // an input file cannot be read
    kExitNoPackage = 4,  // not a setup, no package, or a cut one
    kExitCabinet = 5,    // the cabinet is invalid or does not hold exactly one file
    kExitOutput = 6,     // the output cannot be written
    kExitTooLarge = 7,   // the setup would reach 4 GiB
};

class File {
  public:
    File() = default;
    File(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
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
    int Descriptor() const { return m_fd; }
    const std::string& Path() const { return m_path; }
    void Close();

  private:
    int m_fd = -1;
    std::string m_path;
};

// Written as "<path>.tmp-<pid>"; Commit renames it to path, otherwise the
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

// A scratch file in $TMPDIR (or /tmp), removed on destruction.
class ScratchFile {
  public:
    ScratchFile();
    ~ScratchFile();
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

}  // namespace tirn::pack
