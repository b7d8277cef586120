#include "package/PackageVersion.h"

#include "package/SelfImageView.h"
#include "package/ViewGuard.h"

PackageFacts ReadPackageFacts(const wchar_t* path) {
    // Two small windows, the headers and the trailer: the cost is the same
    // for a package of a megabyte and one of gigabytes.
    constexpr uint32_t kHeaderWindow = 64 * 1024;
    PackageFacts facts;
    SelfImageView view;
    const bool opened = path == nullptr || path[0] == L'\0'
                            ? view.Open(SelfImageView::Extent::OnDemand)
                            : view.OpenFile(path, SelfImageView::Extent::OnDemand);
    if (!opened || !view.MapWindow(0, kHeaderWindow)) {
        facts.error = view.LastError();
        return facts;
    }
    facts.readable = true;
    std::optional<uint64_t> trailerOffset;
    auto findSectionEnd = [&view, &trailerOffset] {
        trailerOffset = tirn::format::SectionDataEnd(view.Bytes());
    };
    if (!RunGuarded(findSectionEnd) || !trailerOffset) return facts;
    if (!view.MapWindow(*trailerOffset, tirn::format::kTrailerSize)) return facts;
    std::optional<tirn::format::PackageTrailer> trailer;
    auto readTrailer = [&view, &trailer] {
        trailer = tirn::format::ReadPresentTrailer(view.Bytes(), 0);
    };
    if (!RunGuarded(readTrailer) || !trailer) return facts;
    facts.found = true;
    facts.trailerOffset = *trailerOffset;
    facts.trailer = *trailer;
    facts.complete = tirn::format::IsPackageComplete(view.Size(), *trailerOffset, *trailer);
    return facts;
}

uint32_t ReadPackageVersion() {
    const PackageFacts facts = ReadPackageFacts();
    return facts.found ? facts.trailer.definitionVersion : 0;
}
