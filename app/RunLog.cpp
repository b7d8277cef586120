#include "app/RunLog.h"

#include "framework/NativeFile.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace {
constexpr int kNameTries = 9;

// Create-only, never through a link, inside the held directory.
HANDLE CreateNew(HANDLE directory, const std::wstring& path) {
    return OpenNativeFile(directory, LastComponent(path),
                          {GENERIC_WRITE, FILE_SHARE_READ, native::kFileCreate,
                           native::kNonDirectoryFile | native::kOpenReparsePoint});
}
}  // namespace

bool RunLog::Create(const wchar_t* path) {
    std::wstring base;
    if (path != nullptr) {
        base = path;
    } else {
        wchar_t temp[MAX_PATH];
        const DWORD length = ::GetTempPathW(MAX_PATH, temp);
        if (length == 0 || length >= MAX_PATH) return false;
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        wchar_t name[96];
        std::swprintf(name, 96, L"TirnHomeISSetup_%04u%02u%02u%02u%02u%02u_%lu.log", now.wYear,
                      now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                      ::GetCurrentProcessId());
        base = std::wstring(temp) + name;
    }
    // Its directory is opened once and must be no link: a junction there
    // could lead the elevated launcher's file anywhere, the object manager's
    // namespace included.
    ScopedHandle directory(OpenParentDirectory(base));
    if (!directory.IsValid()) return false;
    // A name that is taken is passed over: "<name>_2<extension>" to "_9".
    const size_t dot = base.find_last_of(L'.');
    const size_t slash = base.find_last_of(L"\\/");
    const size_t stemEnd = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)
                               ? dot
                               : base.size();
    for (int attempt = 1; attempt <= kNameTries; ++attempt) {
        const std::wstring name =
            attempt == 1
                ? base
                : base.substr(0, stemEnd) + L"_" + std::to_wstring(attempt) + base.substr(stemEnd);
        HANDLE file = CreateNew(directory.Get(), name);
        if (file != nullptr) {
            m_file.Reset(file);
            m_path = name;
            return true;
        }
    }
    return false;
}

void RunLog::Line(const char* format, ...) {
    if (!m_file.IsValid()) return;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char text[2048];
    int used = std::snprintf(text, sizeof(text), "%02u:%02u:%02u.%03u ", now.wHour, now.wMinute,
                             now.wSecond, now.wMilliseconds);
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(text + used, sizeof(text) - static_cast<size_t>(used) - 2,
                                       format, arguments);
    va_end(arguments);
    if (written < 0) return;
    // A line too long for the buffer is cut.
    const int start = used;
    used += written < static_cast<int>(sizeof(text)) - used - 2
                ? written
                : static_cast<int>(sizeof(text)) - used - 3;
    // What the text carries (a path, a name) cannot start lines of its own.
    for (int i = start; i < used; ++i) {
        if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
    }
    text[used++] = '\r';
    text[used++] = '\n';
    ::AcquireSRWLockExclusive(&m_lock);
    DWORD done = 0;
    ::WriteFile(m_file.Get(), text, static_cast<DWORD>(used), &done, nullptr);
    ::ReleaseSRWLockExclusive(&m_lock);
}

std::string RunLog::Utf8(const wchar_t* text) {
    if (text == nullptr) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::string RunLog::DescribeError(DWORD error) {
    wchar_t* message = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = "error " + std::to_string(error);
    if (length > 0 && message != nullptr) {
        std::string words = Utf8(message);
        while (!words.empty() && (words.back() == '\n' || words.back() == '\r' ||
                                  words.back() == ' ' || words.back() == '.')) {
            words.pop_back();
        }
        if (!words.empty()) text += " (" + words + ")";
    }
    if (message != nullptr) ::LocalFree(message);
    return text;
}
