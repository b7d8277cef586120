#include "tools/pack/Packing.h"

#include "format/StoredName.h"

#include "tools/pack/BlockCopying.h"
#include "tools/pack/Files.h"
#include "tools/pack/Progress.h"
#include "tools/pack/SetupReading.h"
#include "format/LauncherImage.h"
#include "format/PackageTrailer.h"
#include "format/PayloadScrambling.h"
#include "format/PeImage.h"

#include <cstdio>
#include <vector>

namespace tirn::pack {

namespace {

using tirn::format::kPayloadBlockSize;
using tirn::format::kTrailerSize;
using tirn::format::PackageTrailer;

constexpr uint64_t kLargestSetup = 0xFFFFFFFFull;  // the launcher maps files below 4 GiB

}  // namespace

namespace {

void CopyPlain(const File& source, uint64_t length, File& out) {
    Progress none(false, "", 1);
    CopyBlocks(
        source, 0, length, out, [](uint8_t*, uint32_t) {}, none);
}

void RequireOneFile(const std::vector<CabinetEntry>& files, const std::string& name) {
    if (files.size() != 1) {
        throw ToolError(kExitCabinet, name + ": the cabinet declares " +
                                          std::to_string(files.size()) +
                                          " files; the launcher installs exactly one");
    }
}

void RequireCompletePackage(const PackageReport& report) {
    if (!report.present) throw ToolError(kExitNoPackage, report.setup + ": carries no package");
    if (!report.complete) {
        throw ToolError(kExitNoPackage,
                        report.setup + ": the package is cut (" +
                            std::to_string(report.fileSize - report.trailerOffset - kTrailerSize) +
                            " of " + std::to_string(report.payloadSize) +
                            " payload bytes present)");
    }
}

}  // namespace

namespace {

// Where the launcher's section data ends, and its kind: what a setup keeps
// of it. A launcher that already carries a package is re-packed: everything
// after its section data is dropped, never stacked.
SetupHeaders CheckedLauncherLayout(const File& launcher, const std::string& path) {
    const uint64_t size = launcher.Size();
    const SetupHeaders layout = ReadSetupHeaders(launcher);
    if (!layout.kind) {
        throw ToolError(kExitNoPackage,
                        path + ": not a launcher (a PE32 i386 or PE32+ AMD64 executable)");
    }
    if (layout.image.sectionDataEnd == 0 || layout.image.sectionDataEnd > size) {
        throw ToolError(kExitNoPackage, path + ": its sections end at " +
                                            std::to_string(layout.image.sectionDataEnd) +
                                            ", past the file's " + std::to_string(size) + " bytes");
    }
    return layout;
}

// A signature of the launcher cannot survive packing (it covers the whole
// file, and its table lay after the section data, where the package goes
// now): drop the directory entry that pointed at it, and say so. The setup
// is to be signed after packing.
void DropLauncherSignature(const tirn::format::PeImage& image, File& output,
                           const BuildRequest& request) {
    if (const std::optional<uint64_t> entry = image.certificateEntryField;
        image.IsSigned() && entry && *entry + 8 <= image.sectionDataEnd) {
        const uint8_t zero[8] = {};
        output.WriteAt(*entry, zero, sizeof zero);
        std::fprintf(stderr,
                     "tirn-pack: %s is signed; its signature is dropped from %s: sign the setup "
                     "after packing it\n",
                     request.launcher.c_str(), request.output.c_str());
    }
}

}  // namespace

void BuildSetup(const BuildRequest& request) {
    if (request.definitionVersion == 0 && !request.allowVersion0) {
        throw ToolError(kExitUsage,
                        "definition version 0 never upgrades anything: such a setup starts the "
                        "installed product wherever one is (--allow-version-0 if that is meant)");
    }
    File launcher = File::OpenForReading(request.launcher);
    const SetupHeaders layout = CheckedLauncherLayout(launcher, request.launcher);
    const uint64_t imageEnd = layout.image.sectionDataEnd;

    ScratchFile madeCabinet;
    std::string cabinetPath = request.cabinet;
    if (!request.installer.empty()) {
        // Refused before anything is written: every user's launcher would.
        if (const auto problem = tirn::format::StoredNameProblem(BaseName(request.installer))) {
            throw ToolError(kExitUsage, request.installer + ": " + *problem +
                                            "; give the installer another name");
        }
        MakeSingleFileCabinet(request.installer, madeCabinet.Path(), request.compression,
                              request.progress);
        cabinetPath = madeCabinet.Path();
    }
    File cabinet = File::OpenForReading(cabinetPath);
    const std::string cabinetName = request.installer.empty() ? request.cabinet : request.installer;
    const std::vector<CabinetEntry> files = ListCabinet(cabinetPath);
    RequireOneFile(files, cabinetName);
    if (const auto problem = tirn::format::StoredNameProblem(files[0].name)) {
        throw ToolError(kExitCabinet, cabinetName + ": " + *problem);
    }
    const uint64_t payloadSize = cabinet.Size();
    const uint64_t setupSize = imageEnd + kTrailerSize + payloadSize;
    if (setupSize > kLargestSetup) {
        throw ToolError(kExitTooLarge, request.output + ": the setup would be " +
                                           std::to_string(setupSize) +
                                           " bytes; it must stay below 4 GiB");
    }

    AtomicOutput output(request.output, 0755);
    CopyPlain(launcher, imageEnd, output.Stream());
    DropLauncherSignature(layout.image, output.Stream(), request);
    const auto trailer = tirn::format::EncodeTrailer(
        PackageTrailer{tirn::format::kTrailerMagic, request.definitionVersion,
                       static_cast<uint32_t>(payloadSize), 0});
    output.Stream().Write(trailer.data(), trailer.size());
    Progress meter(request.progress, "packing", payloadSize);
    CopyBlocks(cabinet, 0, payloadSize, output.Stream(), &tirn::format::ScrambleBlock, meter);
    output.Commit();
    std::printf("tirn-pack: %s: launcher %s, definition version %u, %llu bytes\n",
                request.output.c_str(), tirn::format::LauncherKindName(*layout.kind),
                request.definitionVersion, static_cast<unsigned long long>(setupSize));
}

PackageReport InspectSetup(const std::string& setupPath) {
    File setup = File::OpenForReading(setupPath);
    PackageReport report = ReadPackageReport(setup);
    report.signature = CheckSetupSignature(setup, report);
    if (!report.complete) return report;

    ScratchFile cabinet;
    {
        AtomicOutput out(cabinet.Path(), 0600);
        DescrambleInto(report, setup, out.Stream(), false);
        out.Commit();
    }
    try {
        report.files = ListCabinet(cabinet.Path());
    } catch (const ToolError& error) {
        report.cabinetError = error.what();
    }
    return report;
}

void UnpackSetup(const std::string& setupPath, const std::string& outputPath, bool progress) {
    File setup = File::OpenForReading(setupPath);
    PackageReport report = ReadPackageReport(setup);
    RequireCompletePackage(report);
    AtomicOutput out(outputPath, 0644);
    DescrambleInto(report, setup, out.Stream(), progress);
    out.Commit();
}

}  // namespace tirn::pack
