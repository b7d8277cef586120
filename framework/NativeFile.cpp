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
constexpr ULONG kObjectCaseInsensitive = 0x00000040;
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

bool RenameTo(HANDLE file, std::wstring_view nativeTarget) {
    if (nativeTarget.empty() || nativeTarget.size() > kMostNameUnits) return false;
    const size_t bytes = sizeof(FILE_RENAME_INFO) + nativeTarget.size() * sizeof(wchar_t);
    std::unique_ptr<DWORD[]> buffer(new DWORD[bytes / sizeof(DWORD) + 1]());
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nativeTarget.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, nativeTarget.data(), rename->FileNameLength);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(bytes));
}

bool MarkForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof(disposition));
}
