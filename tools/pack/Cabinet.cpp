#include "tools/pack/Cabinet.h"

#include "tools/pack/Files.h"
#include "tools/pack/Progress.h"
#include "cabinet/CabinetReader.h"
#include "cabinet/CabinetWriter.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif

namespace tirn::pack {

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of(kPathSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// The stored time: the file's, or SOURCE_DATE_EPOCH when that is earlier,
// as reproducible builds agree.
int64_t StoredTime(int64_t modified) {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch == nullptr || *epoch == '\0') return modified;
    char* end = nullptr;
    const long long clamp = std::strtoll(epoch, &end, 10);
    if (*end != '\0') throw ToolError(kExitUsage, "SOURCE_DATE_EPOCH is not a number of seconds");
    return std::min<int64_t>(modified, clamp);
}

class FileSink : public cabinet::CabinetSink {
  public:
    explicit FileSink(File& file) : m_file(file) {}
    void Append(const uint8_t* bytes, size_t length) override { m_file.Write(bytes, length); }
    void Patch(uint64_t offset, const uint8_t* bytes, size_t length) override {
        m_file.WriteAt(offset, bytes, length);
    }

  private:
    File& m_file;
};

// The cores this process may run on: under taskset or a container's CPU
// set, fewer than the machine has. The bytes never depend on it.
unsigned EncoderThreads() {
#ifdef __linux__
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return std::clamp(static_cast<unsigned>(CPU_COUNT(&allowed)), 1u, 8u);
    }
#endif
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

}  // namespace

std::optional<CabinetCompression> ParseCompression(const std::string& text) {
    if (text == "mszip") return CabinetCompression{CabinetCompression::Mszip};
    if (text == "none") return CabinetCompression{CabinetCompression::None};
    if (text == "lzx") return CabinetCompression{CabinetCompression::Lzx, 21};
    if (text.size() == 6 && text.compare(0, 4, "lzx:") == 0 && text[4] >= '1' && text[4] <= '2' &&
        text[5] >= '0' && text[5] <= '9') {
        const unsigned bits = static_cast<unsigned>((text[4] - '0') * 10 + (text[5] - '0'));
        if (bits >= 15 && bits <= 21) return CabinetCompression{CabinetCompression::Lzx, bits};
    }
    return std::nullopt;
}

void MakeSingleFileCabinet(const std::string& installer, const std::string& cabinetPath,
                           CabinetCompression compression, bool progress) {
    File source = File::OpenForReading(installer);
    cabinet::StoredFile stored;
    stored.name = BaseName(installer);
    stored.size = source.Size();
    cabinet::DosDateTime(StoredTime(source.ModifiedTime()), stored.dosDate, stored.dosTime);

    std::unique_ptr<cabinet::FolderEncoder> encoder;
    switch (compression.kind) {
        case CabinetCompression::None: encoder = cabinet::MakeStoredEncoder(); break;
        case CabinetCompression::Mszip:
            encoder = cabinet::MakeMszipEncoder(EncoderThreads());
            break;
        case CabinetCompression::Lzx:
            encoder = cabinet::MakeLzxEncoder(compression.windowBits, compression.effort,
                                              cabinet::kMaxDataBlockBytes, EncoderThreads());
            break;
    }
    AtomicOutput output(cabinetPath, 0600);
    FileSink sink(output.Stream());
    uint64_t offset = 0;
    Progress meter(progress, "compressing", stored.size);
    auto read = [&source, &offset, &meter](uint8_t* buffer, size_t length) {
        const size_t n = source.ReadAt(offset, buffer, length);
        offset += n;
        meter.Update(offset);
        return n;
    };
    try {
        cabinet::WriteSingleFileCabinet(stored, read, *encoder, sink);
    } catch (const cabinet::CabinetLimitError& limit) {
        throw ToolError(kExitTooLarge, installer + ": " + limit.what());
    }
    output.Commit();
}

cabinet::CabinetDirectory ReadCabinetDirectoryOf(const File& cabinet) {
    const uint64_t size = cabinet.Size();
    // The directory lies at the start: a small read holds it, a cabinet of
    // many files may need more (65535 entries of at most 272 bytes).
    for (uint64_t window : {uint64_t{64} << 10, uint64_t{20} << 20}) {
        std::vector<uint8_t> head(static_cast<size_t>(std::min(size, window)));
        head.resize(cabinet.ReadAt(0, head.data(), head.size()));
        try {
            return cabinet::ReadCabinetDirectory(head);
        } catch (const cabinet::CabinetFormatError& error) {
            if (!error.cut || head.size() == size) throw;
        }
    }
    throw cabinet::CabinetFormatError("its directory is too large", false);
}

std::vector<CabinetEntry> ListCabinet(const std::string& cabinetPath) {
    File file = File::OpenForReading(cabinetPath);
    cabinet::CabinetDirectory directory;
    try {
        directory = ReadCabinetDirectoryOf(file);
    } catch (const cabinet::CabinetFormatError& error) {
        throw ToolError(kExitCabinet, std::string("not a valid cabinet: ") + error.what());
    }
    std::vector<CabinetEntry> entries;
    for (const cabinet::FileEntry& f : directory.files) {
        const std::string compression =
            f.folder < directory.folders.size()
                ? cabinet::CompressionName(directory.folders[f.folder].compression)
                : "";
        entries.push_back(CabinetEntry{
            f.name, f.size, cabinet::DosDateTimeText(f.dosDate, f.dosTime), compression});
    }
    return entries;
}

}  // namespace tirn::pack
