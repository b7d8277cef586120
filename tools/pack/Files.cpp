#include "tools/pack/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tirn::pack {

namespace {
int Fd(NativeFile file) {
    return static_cast<int>(file);
}

std::string SystemMessage() {
    return std::strerror(errno);
}
}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

File::~File() {
    if (m_file >= 0) ::close(Fd(m_file));
}

File::File(File&& other) noexcept : m_file(other.m_file), m_path(std::move(other.m_path)) {
    other.m_file = kNoFile;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (m_file >= 0) ::close(Fd(m_file));
        m_file = other.m_file;
        m_path = std::move(other.m_path);
        other.m_file = kNoFile;
    }
    return *this;
}

File File::OpenForReading(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ToolError(kExitInput, path + ": cannot open: " + SystemMessage());
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw ToolError(kExitInput, path + ": not a regular file");
    }
    return File(fd, path);
}

uint64_t File::Size() const {
    struct stat info;
    if (::fstat(Fd(m_file), &info) != 0)
        throw ToolError(kExitInput, m_path + ": " + SystemMessage());
    return static_cast<uint64_t>(info.st_size);
}

int64_t File::ModifiedTime() const {
    struct stat info;
    if (::fstat(Fd(m_file), &info) != 0)
        throw ToolError(kExitInput, m_path + ": " + SystemMessage());
    return static_cast<int64_t>(info.st_mtime);
}

size_t File::ReadAt(uint64_t offset, void* buffer, size_t length) const {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(Fd(m_file), static_cast<char*>(buffer) + done, length - done,
                            static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw ToolError(kExitInput, m_path + ": read failed: " + SystemMessage());
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void File::Write(const void* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(Fd(m_file), static_cast<const char*>(data) + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ToolError(kExitOutput, m_path + ": write failed: " + SystemMessage());
        done += static_cast<size_t>(n);
    }
}

void File::WriteAt(uint64_t offset, const void* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(Fd(m_file), static_cast<const char*>(data) + done, length - done,
                             static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ToolError(kExitOutput, m_path + ": write failed: " + SystemMessage());
        done += static_cast<size_t>(n);
    }
}

void File::Flush() {
    if (::fsync(Fd(m_file)) != 0) throw ToolError(kExitOutput, m_path + ": " + SystemMessage());
}

void File::Close() {
    if (m_file >= 0 && ::close(Fd(m_file)) != 0) {
        m_file = kNoFile;
        throw ToolError(kExitOutput, m_path + ": " + SystemMessage());
    }
    m_file = kNoFile;
}

AtomicOutput::AtomicOutput(const std::string& path, unsigned mode)
    : m_path(path), m_temporaryPath(path + ".tmp-" + std::to_string(::getpid())) {
    int fd = ::open(m_temporaryPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) throw ToolError(kExitOutput, path + ": cannot create: " + SystemMessage());
    m_file = File(fd, path);
}

AtomicOutput::~AtomicOutput() {
    if (!m_committed) ::unlink(m_temporaryPath.c_str());
}

void AtomicOutput::Commit() {
    m_file.Flush();
    m_file.Close();
    if (::rename(m_temporaryPath.c_str(), m_path.c_str()) != 0) {
        throw ToolError(kExitOutput, m_path + ": cannot rename into place: " + SystemMessage());
    }
    m_committed = true;
}

ScratchFile::ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/tirn-pack-XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw ToolError(kExitOutput, "cannot create a scratch file: " + SystemMessage());
    ::close(fd);
    m_path = pattern;
}

ScratchFile::~ScratchFile() {
    ::unlink(m_path.c_str());
}

}  // namespace tirn::pack
