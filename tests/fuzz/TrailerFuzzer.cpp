// Fuzz target: the section-end scan, the launcher's kind and the trailer
// checks over any bytes. Nothing may read outside the input, and what they
// accept must hold.
#include "format/LauncherImage.h"
#include "format/PackageTrailer.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tirn::format;
    const Bytes image(data, size);
    if (ReadLauncherKind(image) && (size < 64 || data[0] != 'M' || data[1] != 'Z')) std::abort();
    std::optional<uint64_t> end = SectionDataEnd(image);
    if (!end) return 0;
    std::optional<PackageTrailer> trailer = ReadPresentTrailer(image, *end);
    if (!trailer) return 0;
    if (*end + kTrailerSize > size || trailer->magic != kTrailerMagic) std::abort();
    if (IsPackageComplete(size, *end, *trailer) &&
        *end + kTrailerSize + trailer->payloadSize > size) {
        std::abort();
    }
    return 0;
}
