#include "CabinetWriter.h"

#include "ByteReader.h"

#include <ctime>
#include <vector>

namespace tirn::cabinet {
namespace {

using tirn::format::StoreLittleEndian32;

void Store16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

// Frames read and encoded at a time: enough to keep two cores busy, small
// enough to keep memory flat.
constexpr size_t kBatchFrames = 64;

}  // namespace

void DosDateTime(int64_t unixSeconds, uint16_t& date, uint16_t& time) {
    constexpr int64_t k1980 = 315532800;      // 1980-01-01 00:00:00
    constexpr int64_t kEnd2107 = 4354819199;  // 2107-12-31 23:59:59
    if (unixSeconds < k1980) unixSeconds = k1980;
    if (unixSeconds > kEnd2107) unixSeconds = kEnd2107;
    // Civil date from days since 1970 (proleptic Gregorian), without the
    // platform's time zone tables: the same on every machine.
    const int64_t days = unixSeconds / 86400;
    const int64_t seconds = unixSeconds % 86400;
    const int64_t z = days + 719468;
    const int64_t era = z / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    date = static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
    time = static_cast<uint16_t>((seconds / 3600) << 11 | (seconds % 3600 / 60) << 5 |
                                 (seconds % 60) / 2);
}

uint64_t WriteSingleFileCabinet(const StoredFile& file, const ReadInput& read,
                                FolderEncoder& encoder, CabinetSink& sink) {
    if (file.name.empty() || file.name.size() >= kMaxNameBytes ||
        file.name.find_first_of(std::string("/\\:\0", 4)) != std::string::npos) {
        throw CabinetLimitError("the name '" + file.name +
                                "' cannot be stored: 1 to 255 bytes, no directory part");
    }
    if (file.size > kLargestStoredFile) {
        throw CabinetLimitError("a cabinet folder holds at most " +
                                std::to_string(kLargestStoredFile) + " bytes; the file has " +
                                std::to_string(file.size));
    }
    const uint32_t frames = static_cast<uint32_t>((file.size + kFrameSize - 1) / kFrameSize);
    const uint32_t nameBytes = static_cast<uint32_t>(file.name.size()) + 1;
    const uint32_t dataStart = kHeaderSize + kFolderEntrySize + kFileEntrySize + nameBytes;

    std::vector<uint8_t> head(dataStart, 0);
    uint8_t* h = head.data();
    h[0] = 'M', h[1] = 'S', h[2] = 'C', h[3] = 'F';
    // cbCabinet (offset 8) is patched at the end.
    StoreLittleEndian32(h + 16, kHeaderSize + kFolderEntrySize);  // first file entry
    h[24] = 3;                                                    // version 1.3
    h[25] = 1;
    Store16(h + 26, 1);  // folders
    Store16(h + 28, 1);  // files
    uint8_t* folder = h + kHeaderSize;
    StoreLittleEndian32(folder, dataStart);
    Store16(folder + 4, static_cast<uint16_t>(frames));
    Store16(folder + 6, encoder.CompressionField());
    uint8_t* entry = folder + kFolderEntrySize;
    StoreLittleEndian32(entry, static_cast<uint32_t>(file.size));
    Store16(entry + 10, file.dosDate);
    Store16(entry + 12, file.dosTime);
    Store16(entry + 14, static_cast<uint16_t>(kAttributeArchive |
                                              (IsAscii(file.name) ? 0 : kAttributeNameIsUtf8)));
    std::copy(file.name.begin(), file.name.end(), entry + kFileEntrySize);
    sink.Append(head.data(), head.size());

    uint64_t written = head.size();
    uint64_t done = 0;
    std::vector<uint8_t> batch;
    std::vector<DataBlock> blocks;
    while (done < file.size) {
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(kBatchFrames * kFrameSize, file.size - done));
        batch.resize(want);
        if (read(batch.data(), want) != want) {
            throw CabinetLimitError("the file ended before its " + std::to_string(file.size) +
                                    " bytes");
        }
        done += want;
        blocks.clear();
        encoder.Encode(batch, done == file.size, blocks);
        for (const DataBlock& block : blocks) {
            if (block.bytes.size() > 0xFFFF) throw CabinetLimitError("a data block overflowed");
            uint8_t header[kDataHeaderSize];
            const auto size = static_cast<uint16_t>(block.bytes.size());
            StoreLittleEndian32(
                header, DataBlockChecksum(block.bytes.data(), size, block.uncompressedSize));
            Store16(header + 4, size);
            Store16(header + 6, block.uncompressedSize);
            sink.Append(header, sizeof header);
            sink.Append(block.bytes.data(), block.bytes.size());
            written += sizeof header + block.bytes.size();
        }
        if (written > 0xFFFFFFFFull) {
            throw CabinetLimitError("the cabinet would reach 4 GiB");
        }
    }
    uint8_t total[4];
    StoreLittleEndian32(total, static_cast<uint32_t>(written));
    sink.Patch(8, total, sizeof total);
    return written;
}

}  // namespace tirn::cabinet
