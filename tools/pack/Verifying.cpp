#include "tools/pack/Verifying.h"

#include "format/StoredName.h"

#include "tools/pack/Cabinet.h"
#include "tools/pack/Decoding.h"
#include "tools/pack/Files.h"
#include "format/LauncherImage.h"
#include "format/PackageTrailer.h"
#include "format/PeImage.h"
#include "tools/pack/SetupReading.h"
#include "cabinet/CabinetReader.h"

#include <algorithm>
#include <vector>

namespace tirn::pack {

namespace {

using tirn::format::LoadLittleEndian16;
using tirn::format::LoadLittleEndian32;
using tirn::format::ReadLittleEndian16;
using tirn::format::ReadLittleEndian32;

// A check that failed: its exit code and one line saying why.
struct Failed {
    int exitCode;
    std::string reason;
};

// The launcher: a PE32 for i386 or a PE32+ for AMD64, with a section table
// that lies inside its headers. Returns which of the two it is.
std::string CheckLauncher(const File& setup) {
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(setup.Size(), 1 << 20)));
    head.resize(setup.ReadAt(0, head.data(), head.size()));
    const std::optional<tirn::format::PeImage> image = tirn::format::ReadPeImage(head);
    if (!image || !image->hasSignatures) {
        throw Failed{kExitNoPackage, "the launcher is not a PE executable"};
    }
    const std::optional<tirn::format::LauncherKind> kind = tirn::format::LauncherKindOf(*image);
    if (!kind) {
        throw Failed{kExitNoPackage,
                     "the launcher is neither a PE32 i386 nor a PE32+ AMD64 executable"};
    }
    if (image->sectionCount == 0)
        throw Failed{kExitNoPackage, "the launcher's section table is broken"};
    return tirn::format::LauncherKindName(*kind);
}

std::vector<uint8_t> ReadAll(const File& file, uint64_t offset, size_t length) {
    std::vector<uint8_t> bytes(length);
    if (file.ReadAt(offset, bytes.data(), length) != length) bytes.clear();
    return bytes;
}

// Every data block of the one folder: inside the cabinet, its checksum
// right, whole frames but for the last; their sizes add up to the file's.
void CheckBlocks(const File& cabinet, const cabinet::CabinetDirectory& directory,
                 VerifyReport& report) {
    const cabinet::FolderEntry& folder = directory.folders[0];
    report.blocks = folder.blockCount;
    const uint64_t size = cabinet.Size();
    uint64_t at = folder.dataOffset;
    uint64_t uncompressed = 0;
    for (uint32_t i = 0; i < folder.blockCount; ++i) {
        const std::string block =
            "data block " + std::to_string(i + 1) + " of " + std::to_string(folder.blockCount);
        const uint64_t headerSize = cabinet::kDataHeaderSize + directory.dataReserve;
        if (at + headerSize > size) throw Failed{kExitDamaged, block + " is cut"};
        const std::vector<uint8_t> header = ReadAll(cabinet, at, cabinet::kDataHeaderSize);
        const uint32_t checksum = LoadLittleEndian32(header.data());
        const uint16_t stored = LoadLittleEndian16(header.data() + 4);
        const uint16_t frame = LoadLittleEndian16(header.data() + 6);
        if (at + headerSize + stored > size) throw Failed{kExitDamaged, block + " is cut"};
        if (stored > cabinet::kMaxDataBlockBytes) {
            throw Failed{kExitDamaged,
                         block + " holds " + std::to_string(stored) + " bytes, more than the " +
                             std::to_string(cabinet::kMaxDataBlockBytes) + " that readers take"};
        }
        if (frame == 0 || frame > cabinet::kFrameSize ||
            (frame < cabinet::kFrameSize && i + 1 < folder.blockCount)) {
            throw Failed{kExitDamaged,
                         block + " holds " + std::to_string(frame) + " bytes, not a whole frame"};
        }
        const std::vector<uint8_t> data = ReadAll(cabinet, at + headerSize, stored);
        // Readers take a checksum of 0 as "none computed" and check nothing,
        // so a block could be changed at will behind it. Our writer always
        // computes one: 0 passes only where it is the block's real checksum.
        const uint32_t computed = cabinet::DataBlockChecksum(data.data(), stored, frame);
        if (checksum == 0 && computed != 0) {
            throw Failed{kExitDamaged, block + " has no checksum"};
        }
        if (computed != checksum) throw Failed{kExitDamaged, block + " fails its checksum"};
        uncompressed += frame;
        report.largestBlock = std::max<uint32_t>(report.largestBlock, stored);
        at += headerSize + stored;
    }
    const cabinet::FileEntry& file = directory.files[0];
    if (file.offsetInFolder != 0 || uncompressed != file.size) {
        throw Failed{kExitDamaged, "the blocks hold " + std::to_string(uncompressed) +
                                       " bytes, the file entry says " + std::to_string(file.size)};
    }
}

void CheckCabinet(const std::string& cabinetPath, VerifyReport& report) {
    File cabinet = File::OpenForReading(cabinetPath);
    const uint64_t size = cabinet.Size();
    cabinet::CabinetDirectory directory;
    try {
        directory = ReadCabinetDirectoryOf(cabinet);
    } catch (const cabinet::CabinetFormatError& error) {
        throw Failed{kExitDamaged, std::string("the cabinet is damaged: ") + error.what()};
    }
    if (directory.cabinetSize != size) {
        throw Failed{kExitDamaged, "the cabinet says it is " +
                                       std::to_string(directory.cabinetSize) + " bytes, not " +
                                       std::to_string(size)};
    }
    if (directory.flags & (cabinet::kFlagPreviousCabinet | cabinet::kFlagNextCabinet)) {
        throw Failed{kExitDamaged, "the cabinet is part of a set; the launcher takes one alone"};
    }
    if (directory.files.size() != 1 || directory.folders.size() != 1) {
        throw Failed{kExitCabinet, "the cabinet declares " +
                                       std::to_string(directory.files.size()) + " files in " +
                                       std::to_string(directory.folders.size()) +
                                       " folders; the launcher installs exactly one file"};
    }
    report.compression = cabinet::CompressionName(directory.folders[0].compression);
    report.fileName = directory.files[0].name;
    if (const auto problem = tirn::format::StoredNameProblem(report.fileName)) {
        throw Failed{kExitDamaged, *problem + ": no user's launcher would install it"};
    }
    report.storedSize = directory.files[0].size;
    CheckBlocks(cabinet, directory, report);

    report.decoder = DecoderName();
    std::string error;
    std::optional<DecodedFile> decoded = DecodeSingleFile(cabinetPath, error);
    if (!decoded) throw Failed{kExitDamaged, "the file does not decode: " + error};
    report.decodedSize = decoded->size;
    if (decoded->size != report.storedSize) {
        throw Failed{kExitDamaged, "the file decodes to " + std::to_string(decoded->size) +
                                       " bytes, not " + std::to_string(report.storedSize)};
    }
    const std::optional<tirn::format::PeImage> program = tirn::format::ReadPeImage(decoded->head);
    if (!program || !program->hasSignatures) {
        throw Failed{kExitDamaged, "the file inside is not a Windows program"};
    }
}

// A fingerprint as given, reduced to lower-case hex digits.
std::string NormalFingerprint(const std::string& text) {
    std::string hex;
    for (const char c : text) {
        if (c == ':' || c == ' ') continue;
        hex += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    return hex;
}

// The pipeline's own demands on the signature, once it is known intact or absent.
void CheckSigner(const SignatureVerdict& signature, const VerifyOptions& options) {
    const bool none = signature.state == SignatureVerdict::State::None;
    if (none && (options.requireSignature || !options.signer.empty())) {
        throw Failed{kExitDamaged, "the setup is not signed, and a signature is required"};
    }
    if (!options.signer.empty() &&
        signature.signerFingerprint != NormalFingerprint(options.signer)) {
        throw Failed{kExitDamaged, "signed by the certificate " + signature.signerFingerprint +
                                       ", not the one --signer names"};
    }
}

}  // namespace

VerifyReport VerifySetup(const std::string& setupPath, const VerifyOptions& options) {
    VerifyReport report;
    report.setup = setupPath;
    File setup = File::OpenForReading(setupPath);
    report.fileSize = setup.Size();
    try {
        report.launcher = CheckLauncher(setup);
        const PackageReport package = ReadPackageReport(setup);
        report.trailerOffset = package.trailerOffset;
        if (!package.present) throw Failed{kExitNoPackage, "the setup carries no package"};
        report.definitionVersion = package.definitionVersion;
        report.payloadSize = package.payloadSize;
        if (!package.complete) throw Failed{kExitNoPackage, "the package is cut"};
        if (package.definitionVersion == 0) {
            throw Failed{kExitDamaged,
                         "definition version 0: it never upgrades an installed product"};
        }
        ScratchFile cabinet;
        {
            AtomicOutput out(cabinet.Path(), 0600);
            DescrambleInto(package, setup, out.Stream(), false);
            out.Commit();
        }
        CheckCabinet(cabinet.Path(), report);
        report.signature = CheckSetupSignature(setup, package);
        if (report.signature.state == SignatureVerdict::State::Broken) {
            throw Failed{kExitDamaged, report.signature.problem};
        }
        CheckSigner(report.signature, options);
        report.shippable = true;
    } catch (const Failed& failed) {
        report.exitCode = failed.exitCode;
        report.reason = failed.reason;
    }
    return report;
}

}  // namespace tirn::pack
