// The file helpers over Win32's wide-character calls: paths arrive as UTF-8
// and are widened at the boundary, so every name a release engineer's
// machine holds works, Vietnamese ones included.
#include "tools/pack/Files.h"

#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <cstdio>

namespace tirn::pack {

namespace {

HANDLE Handle(NativeFile file) {
    return reinterpret_cast<HANDLE>(file);
}

std::string SystemMessage() {
    const DWORD error = ::GetLastError();
    wchar_t* text = nullptr;
    ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message = "error " + std::to_string(error);
    if (text != nullptr) {
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (n > 1) {
            message.assign(static_cast<size_t>(n - 1), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, text, -1, message.data(), n, nullptr, nullptr);
            while (!message.empty() &&
                   (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
                message.pop_back();
            }
        }
        ::LocalFree(text);
    }
    return message;
}

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

// Transfers are cut into pieces a DWORD count can say.
constexpr size_t kLargestTransfer = 1u << 30;

}  // namespace

std::wstring WidePath(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) throw ToolError(kExitUsage, "not UTF-8: " + text);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          wide.data(), n);
    return wide;
}

bool StandardErrorIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

File::~File() {
    if (m_file != kNoFile) ::CloseHandle(Handle(m_file));
}

File::File(File&& other) noexcept : m_file(other.m_file), m_path(std::move(other.m_path)) {
    other.m_file = kNoFile;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (m_file != kNoFile) ::CloseHandle(Handle(m_file));
        m_file = other.m_file;
        m_path = std::move(other.m_path);
        other.m_file = kNoFile;
    }
    return *this;
}

File File::OpenForReading(const std::string& path) {
    HANDLE handle = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw ToolError(kExitInput, path + ": cannot open: " + SystemMessage());
    }
    File file(reinterpret_cast<NativeFile>(handle), path);
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw ToolError(kExitInput, path + ": not a regular file");
    }
    return file;
}

uint64_t File::Size() const {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(Handle(m_file), &size)) {
        throw ToolError(kExitInput, m_path + ": " + SystemMessage());
    }
    return static_cast<uint64_t>(size.QuadPart);
}

int64_t File::ModifiedTime() const {
    FILETIME written;
    if (!::GetFileTime(Handle(m_file), nullptr, nullptr, &written)) {
        throw ToolError(kExitInput, m_path + ": " + SystemMessage());
    }
    // 100 ns steps since 1601, to seconds since 1970.
    const uint64_t ticks = uint64_t{written.dwHighDateTime} << 32 | written.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000) - 11644473600;
}

size_t File::ReadAt(uint64_t offset, void* buffer, size_t length) const {
    size_t done = 0;
    while (done < length) {
        OVERLAPPED at = At(offset + done);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(length - done, kLargestTransfer));
        if (!::ReadFile(Handle(m_file), static_cast<char*>(buffer) + done, want, &n, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            throw ToolError(kExitInput, m_path + ": read failed: " + SystemMessage());
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

void File::Write(const void* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(length - done, kLargestTransfer));
        if (!::WriteFile(Handle(m_file), static_cast<const char*>(data) + done, want, &n,
                         nullptr) ||
            n == 0) {
            throw ToolError(kExitOutput, m_path + ": write failed: " + SystemMessage());
        }
        done += n;
    }
}

void File::WriteAt(uint64_t offset, const void* data, size_t length) {
    // An explicit offset moves a synchronous handle's position: put it back.
    LARGE_INTEGER zero{}, position{};
    if (!::SetFilePointerEx(Handle(m_file), zero, &position, FILE_CURRENT)) {
        throw ToolError(kExitOutput, m_path + ": " + SystemMessage());
    }
    size_t done = 0;
    while (done < length) {
        OVERLAPPED at = At(offset + done);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(length - done, kLargestTransfer));
        if (!::WriteFile(Handle(m_file), static_cast<const char*>(data) + done, want, &n, &at) ||
            n == 0) {
            throw ToolError(kExitOutput, m_path + ": write failed: " + SystemMessage());
        }
        done += n;
    }
    if (!::SetFilePointerEx(Handle(m_file), position, nullptr, FILE_BEGIN)) {
        throw ToolError(kExitOutput, m_path + ": " + SystemMessage());
    }
}

void File::Flush() {
    if (!::FlushFileBuffers(Handle(m_file))) {
        throw ToolError(kExitOutput, m_path + ": " + SystemMessage());
    }
}

void File::Close() {
    if (m_file == kNoFile) return;
    const BOOL closed = ::CloseHandle(Handle(m_file));
    m_file = kNoFile;
    if (!closed) throw ToolError(kExitOutput, m_path + ": " + SystemMessage());
}

AtomicOutput::AtomicOutput(const std::string& path, unsigned)
    : m_path(path), m_temporaryPath(path + ".tmp-" + std::to_string(::GetCurrentProcessId())) {
    HANDLE handle = ::CreateFileW(WidePath(m_temporaryPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw ToolError(kExitOutput, path + ": cannot create: " + SystemMessage());
    }
    m_file = File(reinterpret_cast<NativeFile>(handle), path);
}

AtomicOutput::~AtomicOutput() {
    if (!m_committed) {
        m_file = File();  // closed before it can be removed
        ::DeleteFileW(WidePath(m_temporaryPath).c_str());
    }
}

void AtomicOutput::Commit() {
    m_file.Flush();
    m_file.Close();
    if (!::MoveFileExW(WidePath(m_temporaryPath).c_str(), WidePath(m_path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw ToolError(kExitOutput, m_path + ": cannot rename into place: " + SystemMessage());
    }
    m_committed = true;
}

ScratchFile::ScratchFile() {
    wchar_t directory[MAX_PATH + 1];
    wchar_t path[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, directory);
    if (n == 0 || n > MAX_PATH || ::GetTempFileNameW(directory, L"tpk", 0, path) == 0) {
        throw ToolError(kExitOutput, "cannot create a scratch file: " + SystemMessage());
    }
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    m_path.assign(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, path, -1, m_path.data(), bytes, nullptr, nullptr);
}

ScratchFile::~ScratchFile() {
    ::DeleteFileW(WidePath(m_path).c_str());
}

// The program's arguments as UTF-8, whatever the console's code page.
std::vector<std::string> CommandLineArguments(int, char**) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), n, nullptr, nullptr);
        arguments.push_back(std::move(argument));
    }
    ::LocalFree(wide);
    ::SetConsoleOutputCP(CP_UTF8);
    return arguments;
}

}  // namespace tirn::pack
