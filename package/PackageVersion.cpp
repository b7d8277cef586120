#include "PackageVersion.h"

#include "SelfImageView.h"
#include "format/PackageTrailer.h"

uint32_t ReadPackageVersion() {
    SelfImageView view;
    if (!view.Open()) return 0;
    std::optional<uint64_t> trailerOffset = tirn::format::FindPackageTrailer(view.Bytes());
    if (!trailerOffset) return 0;
    std::optional<tirn::format::PackageTrailer> trailer =
        tirn::format::ReadPresentTrailer(view.Bytes(), *trailerOffset);
    return trailer ? trailer->definitionVersion : 0;
}
