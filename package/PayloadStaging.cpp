#include "package/PayloadStaging.h"
#include "framework/EntryPoint.h"

#include "framework/PathJoin.h"
#include "framework/ScopedHandle.h"
#include "package/ViewGuard.h"
#include "format/PayloadScrambling.h"

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>

int CombinePath(const wchar_t* directory, int capacity, wchar_t* out, const wchar_t* name) {
    if (capacity <= 0 || !JoinPath(directory, name, out, static_cast<size_t>(capacity))) return 0;
    return static_cast<int>(std::wcslen(out));
}

int GetStagingDirectory(wchar_t* out) {
    std::wmemset(out, L'\0', MAX_PATH);
    wchar_t temp[MAX_PATH];
    DWORD tempLength = ::GetTempPathW(MAX_PATH, temp);
    if (tempLength == 0 || tempLength > MAX_PATH - 1) return 0;
    return CombinePath(temp, MAX_PATH, out, kStagingDirectoryName);
}

namespace {
// Protected (no inherited entries): full access for Administrators and
// SYSTEM, inherited by everything created inside.
constexpr wchar_t kStagingDirectorySecurity[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

struct LocalMemory {
    HLOCAL memory = nullptr;
    ~LocalMemory() {
        if (memory != nullptr) ::LocalFree(memory);
    }
};

bool MakeStagingSecurity(LocalMemory& descriptor) {
    return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        kStagingDirectorySecurity, SDDL_REVISION_1,
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(&descriptor.memory), nullptr);
}

bool IsReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
}  // namespace

namespace {
using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
constexpr ULONG kFileCreate = 0x00000002;         // fail when anything exists
constexpr ULONG kFileDirectoryFile = 0x00000001;  // make a directory
constexpr ULONG kFileSynchronousIoNonalert = 0x00000020;
constexpr ULONG kObjectCaseInsensitive = 0x00000040;
// Names tried after the staging place's own, when what stands there cannot be
// moved aside (held open by another process, an installer still running).
constexpr int kFallbackNames = 9;

// The native form of a Win32 path ("\??\C:\...", "\??\UNC\server\..."),
// whole or not at all.
bool NativePath(const wchar_t* path, wchar_t* out, size_t capacity) {
    if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) return JoinPath(L"\\??", path + 4, out, capacity);
    if (std::wcsncmp(path, L"\\\\", 2) == 0) return JoinPath(L"\\??\\UNC", path + 2, out, capacity);
    return JoinPath(L"\\??", path, out, capacity);
}

// Makes path a new directory with the staging DACL and opens it in the same
// call: the handle names the directory this call made, which no other
// process can have opened before, and nobody but Administrators and SYSTEM
// could write into since. False when anything already stands at path.
bool CreateFreshDirectory(const wchar_t* path, ScopedHandle& hold) {
    auto create =
        EntryPoint<NtCreateFileFunction>(::GetModuleHandleW(L"ntdll.dll"), "NtCreateFile");
    wchar_t native[MAX_PATH + 8];
    LocalMemory descriptor;
    if (create == nullptr || !NativePath(path, native, MAX_PATH + 8) ||
        !MakeStagingSecurity(descriptor)) {
        return false;
    }
    const USHORT bytes = static_cast<USHORT>(std::wcslen(native) * sizeof(wchar_t));
    UNICODE_STRING name{bytes, bytes, native};
    OBJECT_ATTRIBUTES object{};
    object.Length = sizeof(object);
    object.ObjectName = &name;
    object.Attributes = kObjectCaseInsensitive;
    object.SecurityDescriptor = descriptor.memory;
    IO_STATUS_BLOCK status{};
    HANDLE directory = nullptr;
    // Held without delete sharing: from here on the path keeps naming it.
    if (create(&directory,
               FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC | SYNCHRONIZE,
               &object, &status, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
               kFileCreate, kFileDirectoryFile | kFileSynchronousIoNonalert, nullptr, 0) < 0) {
        return false;
    }
    hold.Reset(directory);
    return true;
}

// path and suffix into out[MAX_PATH], whole or not at all.
bool WithSuffix(const wchar_t* path, const wchar_t* suffix, wchar_t* out) {
    const size_t length = std::wcslen(path);
    const size_t extra = std::wcslen(suffix);
    if (length + extra >= MAX_PATH) return false;
    std::wmemcpy(out, path, length);
    std::wmemcpy(out + length, suffix, extra + 1);
    return true;
}

// Renames what stands at path to "<path>.<n>.old", a name not taken yet.
// False when it cannot be moved (another process holds it open without
// delete sharing, or a program runs from inside it).
bool MoveAside(const wchar_t* path, wchar_t* aside) {
    const unsigned long long stamp = ::GetTickCount64();
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        wchar_t suffix[48];
        std::swprintf(suffix, 48, L".%llx-%lx-%x.old", stamp, ::GetCurrentProcessId(), attempt);
        if (!WithSuffix(path, suffix, aside)) return false;
        if (::MoveFileExW(path, aside, 0)) return true;
        if (::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_FILE_EXISTS) {
            return false;
        }
    }
    return false;
}

// Deletes the plain files of a staging directory moved aside, then the
// directory when that left it empty; anything else stays. It is held
// without delete sharing meanwhile, so its path cannot be turned into a
// link that would lead these deletions elsewhere.
void DiscardMovedAside(const wchar_t* aside) {
    ScopedHandle held(::CreateFileW(aside, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!held.IsValid() || !::GetFileInformationByHandle(held.Get(), &information) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        IsReparsePoint(information.dwFileAttributes)) {
        return;
    }
    wchar_t pattern[MAX_PATH];
    if (!JoinPath(aside, L"*", pattern, MAX_PATH)) return;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        wchar_t entry[MAX_PATH];
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT) ||
            !JoinPath(aside, found.cFileName, entry, MAX_PATH)) {
            continue;
        }
        ::SetFileAttributesW(entry, FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(entry);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    held.Close();
    ::RemoveDirectoryW(aside);
}

// The staging place's own name (index 0), or that name with "-index".
bool CandidateName(const wchar_t* preferred, int index, wchar_t* out) {
    wchar_t suffix[16] = L"";
    if (index > 0) std::swprintf(suffix, 16, L"-%d", index);
    return WithSuffix(preferred, suffix, out);
}
}  // namespace

bool PrepareStagingDirectory(wchar_t* directory, ScopedHandle& hold) {
    hold.Close();
    const DWORD found = ::GetFileAttributesW(directory);
    // A link or a file at the staging place's own name is refused, as
    // before: nothing is done through it, nor beside it.
    if (found != INVALID_FILE_ATTRIBUTES &&
        (IsReparsePoint(found) || !(found & FILE_ATTRIBUTE_DIRECTORY))) {
        return false;
    }
    wchar_t preferred[MAX_PATH];
    std::wcscpy(preferred, directory);
    for (int index = 0; index <= kFallbackNames; ++index) {
        wchar_t candidate[MAX_PATH];
        if (!CandidateName(preferred, index, candidate)) return false;
        const DWORD attributes = ::GetFileAttributesW(candidate);
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            // Whatever stands there existed before this run: anything may
            // have been planted in it, or hold it open for writing. It is
            // moved aside, never used.
            wchar_t aside[MAX_PATH];
            if (IsReparsePoint(attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                !MoveAside(candidate, aside)) {
                continue;
            }
            DiscardMovedAside(aside);
        }
        if (CreateFreshDirectory(candidate, hold)) {
            std::wcscpy(directory, candidate);
            return true;
        }
    }
    return false;
}

bool RestrictToAdministrators(HANDLE object) {
    LocalMemory descriptor;
    if (!MakeStagingSecurity(descriptor)) return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    return ::GetSecurityDescriptorDacl(descriptor.memory, &present, &dacl, &defaulted) &&
           ::SetSecurityInfo(object, SE_FILE_OBJECT,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

int WritePayloadFile(const uint8_t* source, uint32_t size, const wchar_t* path) {
    ScopedHandle file(::CreateFileW(path, GENERIC_WRITE | WRITE_DAC, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid() || !RestrictToAdministrators(file.Get())) return 0;

    // One block-sized buffer, not a copy of the whole payload: a full copy
    // would double the address space a 32-bit process needs for a large
    // package. The blocks, the writes and the file are the same.
    std::unique_ptr<uint8_t[]> block;
    try {
        block.reset(new uint8_t[tirn::format::kPayloadBlockSize]);
    } catch (...) {
        return 0;
    }
    for (uint32_t done = 0; done < size;) {
        const uint32_t length = size - done >= tirn::format::kPayloadBlockSize
                                    ? tirn::format::kPayloadBlockSize
                                    : size - done;
        // The source is the mapped own executable: a read error of the file
        // is a failed write, not a crash.
        auto copy = [&block, source, done, length] {
            std::memcpy(block.get(), source + done, length);
        };
        if (!RunGuarded(copy)) return 0;
        DescrambleBlock(block.get(), length);
        DWORD written = 0;
        if (!::WriteFile(file.Get(), block.get(), length, &written, nullptr)) written = 0;
        if (written != length) return 0;
        done += length;
    }
    return 1;
}
