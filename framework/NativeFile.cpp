#include "framework/NativeFile.h"

#include "framework/EntryPoint.h"
#include "framework/PathJoin.h"

#include <winternl.h>

#include <cstring>
#include <cwchar>
#include <memory>

namespace {
using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
using NtSetInformationFileFunction = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
constexpr ULONG kObjectCaseInsensitive = 0x00000040;
constexpr ULONG kFileRenameInformation = 10;
// A UNICODE_STRING counts bytes in 16 bits.
constexpr size_t kMostNameUnits = 0x7FFF;
}  // namespace

HANDLE OpenNativeFile(HANDLE directory, std::wstring_view name, const NativeOpen& how) {
    static const auto create =
        EntryPoint<NtCreateFileFunction>(::GetModuleHandleW(L"ntdll.dll"), "NtCreateFile");
    if (create == nullptr || name.empty() || name.size() > kMostNameUnits) return nullptr;
    const auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    UNICODE_STRING unicodeName{bytes, bytes, const_cast<wchar_t*>(name.data())};
    OBJECT_ATTRIBUTES object{};
    object.Length = sizeof(object);
    object.RootDirectory = directory;
    object.ObjectName = &unicodeName;
    object.Attributes = kObjectCaseInsensitive;
    object.SecurityDescriptor = how.security;
    IO_STATUS_BLOCK status{};
    HANDLE file = nullptr;
    if (create(&file, how.access | SYNCHRONIZE, &object, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
               how.share, how.disposition, how.options | native::kSynchronousIoNonalert, nullptr,
               0) < 0) {
        return nullptr;
    }
    return file;
}

HANDLE OpenParentDirectory(std::wstring_view path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring_view::npos || slash + 1 >= MAX_PATH) return nullptr;
    wchar_t directory[MAX_PATH];
    std::wmemcpy(directory, path.data(), slash + 1);
    directory[slash + 1] = L'\0';
    wchar_t native[MAX_PATH + 16];
    if (!NativePath(directory, native, MAX_PATH + 16)) return nullptr;
    HANDLE held =
        OpenNativeFile(nullptr, native,
                       {FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, native::kFileOpen,
                        native::kDirectoryFile | native::kOpenReparsePoint});
    const std::optional<DWORD> attributes = held != nullptr ? AttributesOf(held) : std::nullopt;
    if (held != nullptr && (!attributes || (*attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        ::CloseHandle(held);
        return nullptr;
    }
    return held;
}

std::wstring_view LastComponent(std::wstring_view path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

std::optional<DWORD> AttributesOf(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return std::nullopt;
    }
    return tag.FileAttributes;
}

bool NativePath(const wchar_t* path, wchar_t* out, size_t capacity) {
    if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) return JoinPath(L"\\??", path + 4, out, capacity);
    if (std::wcsncmp(path, L"\\\\", 2) == 0) return JoinPath(L"\\??\\UNC", path + 2, out, capacity);
    return JoinPath(L"\\??", path, out, capacity);
}

std::wstring FileNameOf(HANDLE file) {
    // A name of at most 32767 units, and the record's length field before it.
    constexpr size_t kBufferBytes = sizeof(FILE_NAME_INFO) + kMostNameUnits * sizeof(wchar_t);
    std::unique_ptr<DWORD[]> buffer(new DWORD[kBufferBytes / sizeof(DWORD) + 1]);
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.get());
    if (!::GetFileInformationByHandleEx(file, FileNameInfo, info, kBufferBytes)) return {};
    // The length comes from the file system: checked against the buffer all the same.
    const size_t units = info->FileNameLength / sizeof(wchar_t);
    if (units > kMostNameUnits) return {};
    return std::wstring(info->FileName, units);
}

bool RenameTo(HANDLE file, HANDLE directory, std::wstring_view target) {
    if (target.empty() || target.size() > kMostNameUnits) return false;
    const size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
    std::unique_ptr<DWORD[]> buffer(new DWORD[bytes / sizeof(DWORD) + 1]());
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = directory;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.data(), rename->FileNameLength);
    // The native call: Wine's Win32 one refuses a name relative to a directory.
    static const auto setInformation = EntryPoint<NtSetInformationFileFunction>(
        ::GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile");
    IO_STATUS_BLOCK status{};
    return setInformation != nullptr &&
           setInformation(file, &status, rename, static_cast<ULONG>(bytes),
                          kFileRenameInformation) >= 0;
}

bool DrivePathOf(HANDLE file, wchar_t* out, size_t capacity) {
    std::unique_ptr<wchar_t[]> path(new wchar_t[kMostNameUnits + 1]);
    const DWORD length = ::GetFinalPathNameByHandleW(file, path.get(), kMostNameUnits + 1,
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length < 7 || length > kMostNameUnits) return false;
    // "\\?\C:\..." only: "\\?\UNC\..." is a share whose server decides what it holds.
    const wchar_t* drivePath = path.get() + 4;
    const bool onDrive = std::wcsncmp(path.get(), L"\\\\?\\", 4) == 0 && drivePath[1] == L':' &&
                         drivePath[2] == L'\\' &&
                         ((drivePath[0] >= L'A' && drivePath[0] <= L'Z') ||
                          (drivePath[0] >= L'a' && drivePath[0] <= L'z'));
    const size_t units = length - 4;
    if (!onDrive || units >= capacity) return false;
    std::wmemcpy(out, drivePath, units + 1);
    return true;
}

bool MarkForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof(disposition));
}
