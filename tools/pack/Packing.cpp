#include "tools/pack/Packing.h"

#include "format/StoredName.h"

#include "tools/pack/Files.h"
#include "tools/pack/Progress.h"
#include "tools/pack/SetupReading.h"
#include "format/LauncherImage.h"
#include "format/PackageTrailer.h"
#include "format/PayloadScrambling.h"

#include <cstdio>
#include <vector>

namespace tirn::pack {

namespace {

using tirn::format::kPayloadBlockSize;
using tirn::format::kTrailerSize;
using tirn::format::LauncherKind;
using tirn::format::PackageTrailer;

constexpr uint64_t kLargestSetup = 0xFFFFFFFFull;  // the launcher maps files below 4 GiB
constexpr size_t kHeaderWindow = 1 << 20;          // headers and section table lie well within

// What the headers alone tell of a setup or launcher image.
struct ImageLayout {
    uint64_t sectionDataEnd = 0;
    std::optional<LauncherKind> kind;  // empty: neither of the launcher's builds
};

ImageLayout ReadImageLayout(const File& file, uint64_t fileSize) {
    std::vector<uint8_t> headers(static_cast<size_t>(std::min<uint64_t>(fileSize, kHeaderWindow)));
    headers.resize(file.ReadAt(0, headers.data(), headers.size()));
    std::optional<uint64_t> end = tirn::format::SectionDataEnd(headers);
    if (!end) throw ToolError(kExitNoPackage, file.Path() + ": not a PE executable (bad headers)");
    return {*end, tirn::format::ReadLauncherKind(headers)};
}

// Copies length bytes from source at offset into out, scrambling or
// descrambling each 40960-byte block on the way. One block of memory.
template <typename Transform>
void CopyBlocks(const File& source, uint64_t offset, uint64_t length, File& out,
                Transform transform, Progress& progress) {
    std::vector<uint8_t> block(kPayloadBlockSize);
    for (uint64_t done = 0; done < length;) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kPayloadBlockSize, length - done));
        if (source.ReadAt(offset + done, block.data(), n) != n) {
            throw ToolError(kExitInput, source.Path() + ": shorter than expected");
        }
        transform(block.data(), n);
        out.Write(block.data(), n);
        done += n;
        progress.Update(done);
    }
}

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

// File offset of the PE certificate-table directory entry (8 bytes), when
// the launcher carries a signature; nothing otherwise.
std::optional<uint64_t> SignatureDirectoryEntry(const File& file) {
    uint8_t dos[64];
    if (file.ReadAt(0, dos, sizeof dos) != sizeof dos) return std::nullopt;
    const uint64_t pe = tirn::format::LoadLittleEndian32(dos + 60);
    uint8_t magic[2];
    if (file.ReadAt(pe + 24, magic, 2) != 2) return std::nullopt;
    // Data directory 4, in the PE32 (0x10B) or PE32+ (0x20B) optional header.
    const uint16_t kind = tirn::format::LoadLittleEndian16(magic);
    const uint64_t entry = pe + 24 + (kind == 0x20B ? 144 : 128);
    uint8_t directory[8];
    if (file.ReadAt(entry, directory, 8) != 8) return std::nullopt;
    if (tirn::format::LoadLittleEndian32(directory) == 0 &&
        tirn::format::LoadLittleEndian32(directory + 4) == 0) {
        return std::nullopt;
    }
    return entry;
}

void DescrambleInto(const PackageReport& report, const File& setup, File& out, bool progress) {
    Progress meter(progress, "unpacking", report.payloadSize);
    CopyBlocks(
        setup, report.trailerOffset + kTrailerSize, report.payloadSize, out,
        [](uint8_t* b, uint32_t n) { DescrambleBlock(b, n); }, meter);
}

namespace {

// Where the launcher's section data ends, and its kind: what a setup keeps
// of it. A launcher that already carries a package is re-packed: everything
// after its section data is dropped, never stacked.
ImageLayout CheckedLauncherLayout(const File& launcher, const std::string& path) {
    const uint64_t size = launcher.Size();
    const ImageLayout layout = ReadImageLayout(launcher, size);
    if (!layout.kind) {
        throw ToolError(kExitNoPackage,
                        path + ": not a launcher (a PE32 i386 or PE32+ AMD64 executable)");
    }
    if (layout.sectionDataEnd == 0 || layout.sectionDataEnd > size) {
        throw ToolError(kExitNoPackage, path + ": its sections end at " +
                                            std::to_string(layout.sectionDataEnd) +
                                            ", past the file's " + std::to_string(size) + " bytes");
    }
    return layout;
}

// A signature of the launcher cannot survive packing (it covers the whole
// file, and its table lay after the section data, where the package goes
// now): drop the directory entry that pointed at it, and say so. The setup
// is to be signed after packing.
void DropLauncherSignature(const File& launcher, uint64_t imageEnd, File& output,
                           const BuildRequest& request) {
    if (std::optional<uint64_t> entry = SignatureDirectoryEntry(launcher);
        entry && *entry + 8 <= imageEnd) {
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
    const ImageLayout layout = CheckedLauncherLayout(launcher, request.launcher);
    const uint64_t imageEnd = layout.sectionDataEnd;

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
    DropLauncherSignature(launcher, imageEnd, output.Stream(), request);
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

PackageReport ReadPackageReport(const File& setup) {
    PackageReport report;
    report.setup = setup.Path();
    report.fileSize = setup.Size();
    const ImageLayout layout = ReadImageLayout(setup, report.fileSize);
    report.trailerOffset = layout.sectionDataEnd;
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

PackageReport InspectSetup(const std::string& setupPath) {
    File setup = File::OpenForReading(setupPath);
    PackageReport report = ReadPackageReport(setup);
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
