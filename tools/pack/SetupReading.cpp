#include "tools/pack/SetupReading.h"

#include "tools/pack/BlockCopying.h"
#include "format/PackageTrailer.h"

#include <vector>

namespace tirn::pack {
namespace {

using tirn::format::kTrailerSize;
using tirn::format::PackageTrailer;

constexpr size_t kHeaderWindow = 1 << 20;  // headers and section table lie well within

}  // namespace

SetupHeaders ReadSetupHeaders(const File& file) {
    std::vector<uint8_t> headers(
        static_cast<size_t>(std::min<uint64_t>(file.Size(), kHeaderWindow)));
    headers.resize(file.ReadAt(0, headers.data(), headers.size()));
    std::optional<tirn::format::PeImage> image = tirn::format::ReadPeImage(headers);
    if (!image)
        throw ToolError(kExitNoPackage, file.Path() + ": not a PE executable (bad headers)");
    return {*image, tirn::format::LauncherKindOf(*image)};
}

PackageReport ReadPackageReport(const File& setup) {
    PackageReport report;
    report.setup = setup.Path();
    report.fileSize = setup.Size();
    const SetupHeaders layout = ReadSetupHeaders(setup);
    report.image = layout.image;
    report.trailerOffset = layout.image.sectionDataEnd;
    if (layout.kind) report.launcher = tirn::format::LauncherKindName(*layout.kind);

    uint8_t bytes[kTrailerSize];
    if (report.trailerOffset > report.fileSize ||
        setup.ReadAt(report.trailerOffset, bytes, kTrailerSize) != kTrailerSize) {
        return report;
    }
    std::optional<PackageTrailer> trailer = tirn::format::ReadPresentTrailer(bytes, 0);
    if (!trailer) return report;
    report.present = true;
    report.definitionVersion = trailer->definitionVersion;
    report.payloadSize = trailer->payloadSize;
    report.reserved = trailer->reserved;
    report.complete =
        tirn::format::IsPackageComplete(report.fileSize, report.trailerOffset, *trailer);
    return report;
}

SignatureVerdict CheckSetupSignature(const File& setup, const PackageReport& report) {
    const uint64_t packageEnd =
        report.trailerOffset + (report.present ? kTrailerSize + report.payloadSize : 0);
    return CheckSignature(setup, report.image, packageEnd);
}

void DescrambleInto(const PackageReport& report, const File& setup, File& out, bool progress) {
    Progress meter(progress, "unpacking", report.payloadSize);
    CopyBlocks(
        setup, report.trailerOffset + kTrailerSize, report.payloadSize, out,
        [](uint8_t* b, uint32_t n) { DescrambleBlock(b, n); }, meter);
}

}  // namespace tirn::pack
