#include "format/LauncherImage.h"

namespace tirn::format {
namespace {
constexpr uint64_t kNewHeaderOffsetField = 60;  // e_lfanew
constexpr uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
constexpr uint64_t kMachineField = 4;           // from the PE signature
constexpr uint64_t kOptionalHeaderMagicField = 24;
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kPe32PlusMagic = 0x020B;
}  // namespace

std::optional<LauncherKind> ReadLauncherKind(Bytes image) {
    if (image.size() < 2 || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
    const std::optional<uint32_t> pe = ReadLittleEndian32(image, kNewHeaderOffsetField);
    if (!pe || ReadLittleEndian32(image, *pe) != kPeSignature) return std::nullopt;
    const std::optional<uint16_t> machine =
        ReadLittleEndian16(image, uint64_t{*pe} + kMachineField);
    const std::optional<uint16_t> magic =
        ReadLittleEndian16(image, uint64_t{*pe} + kOptionalHeaderMagicField);
    if (!machine || !magic) return std::nullopt;
    if (*machine == kMachineI386 && *magic == kPe32Magic) return LauncherKind::Pe32I386;
    if (*machine == kMachineAmd64 && *magic == kPe32PlusMagic) return LauncherKind::Pe32PlusAmd64;
    return std::nullopt;
}

const char* LauncherKindName(LauncherKind kind) {
    return kind == LauncherKind::Pe32I386 ? "PE32 i386" : "PE32+ AMD64";
}

}  // namespace tirn::format
