#include "package/PayloadStaging.h"

#include "framework/NativeFile.h"
#include "framework/ScopedHandle.h"
#include "package/StagingSecurity.h"
#include "package/ViewGuard.h"
#include "format/PayloadScrambling.h"

#include <cstring>
#include <memory>

namespace {
int WritePayload(HANDLE file, const uint8_t* source, uint32_t size) {
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
        if (!::WriteFile(file, block.get(), length, &written, nullptr)) written = 0;
        if (written != length) return 0;
        done += length;
    }
    return 1;
}
}  // namespace

int WritePayloadFile(const uint8_t* source, uint32_t size, const wchar_t* path) {
    // Through its directory, opened once and no link, and never through a
    // link at the name either: the launcher runs elevated.
    ScopedHandle directory(OpenParentDirectory(path));
    StagingSecurity security;
    if (!directory.IsValid() || security.Descriptor() == nullptr) return 0;
    ScopedHandle file(OpenNativeFile(
        directory.Get(), LastComponent(path),
        {GENERIC_WRITE | WRITE_DAC, FILE_SHARE_READ, native::kFileOverwriteIf,
         native::kNonDirectoryFile | native::kOpenReparsePoint, security.Descriptor()}));
    const std::optional<DWORD> attributes =
        file.IsValid() ? AttributesOf(file.Get()) : std::nullopt;
    // A file replaced keeps its own DACL: the staging one is set again.
    if (!attributes || (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !RestrictToAdministrators(file.Get())) {
        return 0;
    }
    return WritePayload(file.Get(), source, size);
}

int WritePayloadFileIn(HANDLE directory, const wchar_t* name, const uint8_t* source,
                       uint32_t size) {
    StagingSecurity security;
    if (security.Descriptor() == nullptr) return 0;
    ScopedHandle file(OpenNativeFile(
        directory, name,
        {GENERIC_WRITE, FILE_SHARE_READ, native::kFileCreate,
         native::kNonDirectoryFile | native::kOpenReparsePoint, security.Descriptor()}));
    if (!file.IsValid()) return 0;
    return WritePayload(file.Get(), source, size);
}
