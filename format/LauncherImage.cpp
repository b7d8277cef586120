#include "format/LauncherImage.h"

namespace tirn::format {
namespace {
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kPe32PlusMagic = 0x020B;
}  // namespace

std::optional<LauncherKind> LauncherKindOf(const PeImage& image) {
    if (!image.hasSignatures || !image.optionalHeaderMagic) return std::nullopt;
    const uint16_t magic = *image.optionalHeaderMagic;
    if (image.machine == kMachineI386 && magic == kPe32Magic) return LauncherKind::Pe32I386;
    if (image.machine == kMachineAmd64 && magic == kPe32PlusMagic) {
        return LauncherKind::Pe32PlusAmd64;
    }
    return std::nullopt;
}

std::optional<LauncherKind> ReadLauncherKind(Bytes image) {
    const std::optional<PeImage> pe = ReadPeImage(image);
    return pe ? LauncherKindOf(*pe) : std::nullopt;
}
const char* LauncherKindName(LauncherKind kind) {
    return kind == LauncherKind::Pe32I386 ? "PE32 i386" : "PE32+ AMD64";
}

}  // namespace tirn::format
