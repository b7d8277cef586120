#include "PackageVersion.h"

#include "SelfImageView.h"
#include "ViewGuard.h"
#include "format/PackageTrailer.h"

uint32_t ReadPackageVersion() {
    SelfImageView view;
    if (!view.Open()) return 0;
    uint32_t version = 0;
    auto read = [&view, &version] {
        std::optional<uint64_t> trailerOffset = tirn::format::FindPackageTrailer(view.Bytes());
        if (!trailerOffset) return;
        std::optional<tirn::format::PackageTrailer> trailer =
            tirn::format::ReadPresentTrailer(view.Bytes(), *trailerOffset);
        if (trailer) version = trailer->definitionVersion;
    };
    return RunGuarded(read) ? version : 0;
}
