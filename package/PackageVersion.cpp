#include "package/PackageVersion.h"

#include "package/SelfImageView.h"
#include "package/ViewGuard.h"
#include "format/PackageTrailer.h"

uint32_t ReadPackageVersion() {
    // Two small windows, the headers and the trailer: the cost is the same
    // for a package of a megabyte and one of gigabytes.
    constexpr uint32_t kHeaderWindow = 64 * 1024;
    SelfImageView view;
    if (!view.Open(SelfImageView::Extent::OnDemand)) return 0;
    if (!view.MapWindow(0, kHeaderWindow)) return 0;
    std::optional<uint64_t> trailerOffset;
    auto findSectionEnd = [&view, &trailerOffset] {
        trailerOffset = tirn::format::SectionDataEnd(view.Bytes());
    };
    if (!RunGuarded(findSectionEnd) || !trailerOffset) return 0;
    if (!view.MapWindow(*trailerOffset, tirn::format::kTrailerSize)) return 0;
    uint32_t version = 0;
    auto readTrailer = [&view, &version] {
        std::optional<tirn::format::PackageTrailer> trailer =
            tirn::format::ReadPresentTrailer(view.Bytes(), 0);
        if (trailer) version = trailer->definitionVersion;
    };
    return RunGuarded(readTrailer) ? version : 0;
}
