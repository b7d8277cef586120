#include "package/PayloadStaging.h"

#include "app/framework/PathJoin.h"
#include "app/framework/ScopedHandle.h"
#include "package/ViewGuard.h"
#include "package/format/PayloadScrambling.h"

#include <aclapi.h>
#include <sddl.h>

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

bool PrepareStagingDirectory(const wchar_t* directory, ScopedHandle& hold) {
    hold.Close();
    if (IsReparsePoint(::GetFileAttributesW(directory))) return false;

    LocalMemory descriptor;
    if (!MakeStagingSecurity(descriptor)) return false;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.memory, FALSE};
    ::CreateDirectoryW(directory, &attributes);  // may exist from an earlier run

    // Opened as itself (never followed if it is a link), and held without
    // delete sharing: from here on the path keeps naming this directory.
    hold.Reset(::CreateFileW(directory, FILE_LIST_DIRECTORY | READ_CONTROL | WRITE_DAC,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!hold.IsValid() || !::GetFileInformationByHandle(hold.Get(), &information) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        IsReparsePoint(information.dwFileAttributes)) {
        hold.Close();
        return false;
    }
    // Taking over a directory of an earlier run: its entries are replaced.
    if (!RestrictToAdministrators(hold.Get())) {
        hold.Close();
        return false;
    }
    return true;
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
