// Fuzz target: the PE reader (the section-end scan, the launcher's kind, what
// a signature covers) and the trailer checks over any bytes. Nothing may read
// outside the input, and what they accept must hold.
#include "format/LauncherImage.h"
#include "format/PackageTrailer.h"
#include "format/PeImage.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tirn::format;
    const Bytes image(data, size);
    if (ReadLauncherKind(image) && (size < 64 || data[0] != 'M' || data[1] != 'Z')) std::abort();
    // What a signature's digest covers lies inside the file, in order.
    if (const std::optional<PeImage> pe = ReadPeImage(image)) {
        if (const auto ranges = AuthenticodeRanges(*pe, size)) {
            uint64_t at = 0;
            for (const ByteRange& range : *ranges) {
                if (range.offset < at || range.offset + range.length > size) std::abort();
                at = range.offset + range.length;
            }
        }
    }
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
