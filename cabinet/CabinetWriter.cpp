#include "cabinet/CabinetWriter.h"

#include "format/ByteReader.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace tirn::cabinet {
namespace {

using tirn::format::StoreLittleEndian16;
using tirn::format::StoreLittleEndian32;

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
    using namespace std::chrono;
    // What a DOS date can say: 1980 to 2107, to two seconds. The civil date
    // is the proleptic Gregorian one in UTC, without the platform's time
    // zone tables: the same on every machine.
    constexpr sys_seconds kFirst = sys_days{year{1980} / January / 1};
    constexpr sys_seconds kLast =
        sys_days{year{2107} / December / 31} + hours{23} + minutes{59} + seconds{59};
    const sys_seconds point = std::clamp(sys_seconds{seconds{unixSeconds}}, kFirst, kLast);
    const sys_days day = floor<days>(point);
    const year_month_day civil{day};
    const hh_mm_ss clock{point - day};
    date = static_cast<uint16_t>((static_cast<int>(civil.year()) - 1980) << 9 |
                                 static_cast<unsigned>(civil.month()) << 5 |
                                 static_cast<unsigned>(civil.day()));
    time = static_cast<uint16_t>(clock.hours().count() << 11 | clock.minutes().count() << 5 |
                                 clock.seconds().count() / 2);
}

namespace {

void CheckStorable(const StoredFile& file) {
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
}

// The header, the folder entry and the file entry with its name; the
// cabinet's total size (offset 8) is patched in at the end.
std::vector<uint8_t> CabinetHead(const StoredFile& file, uint32_t frames, uint16_t compression) {
    const uint32_t nameBytes = static_cast<uint32_t>(file.name.size()) + 1;
    const uint32_t dataStart = kHeaderSize + kFolderEntrySize + kFileEntrySize + nameBytes;
    std::vector<uint8_t> head(dataStart, 0);
    uint8_t* h = head.data();
    h[0] = 'M', h[1] = 'S', h[2] = 'C', h[3] = 'F';
    StoreLittleEndian32(h + 16, kHeaderSize + kFolderEntrySize);  // first file entry
    h[24] = 3;                                                    // version 1.3
    h[25] = 1;
    StoreLittleEndian16(h + 26, 1);  // folders
    StoreLittleEndian16(h + 28, 1);  // files
    uint8_t* folder = h + kHeaderSize;
    StoreLittleEndian32(folder, dataStart);
    StoreLittleEndian16(folder + 4, static_cast<uint16_t>(frames));
    StoreLittleEndian16(folder + 6, compression);
    uint8_t* entry = folder + kFolderEntrySize;
    StoreLittleEndian32(entry, static_cast<uint32_t>(file.size));
    StoreLittleEndian16(entry + 10, file.dosDate);
    StoreLittleEndian16(entry + 12, file.dosTime);
    StoreLittleEndian16(
        entry + 14,
        static_cast<uint16_t>(kAttributeArchive | (IsAscii(file.name) ? 0 : kAttributeNameIsUtf8)));
    std::copy(file.name.begin(), file.name.end(), entry + kFileEntrySize);
    return head;
}

// One data block with its header; returns the bytes appended.
uint64_t AppendDataBlock(const DataBlock& block, CabinetSink& sink) {
    if (block.bytes.size() > 0xFFFF) throw CabinetLimitError("a data block overflowed");
    uint8_t header[kDataHeaderSize];
    const auto size = static_cast<uint16_t>(block.bytes.size());
    StoreLittleEndian32(header,
                        DataBlockChecksum(block.bytes.data(), size, block.uncompressedSize));
    StoreLittleEndian16(header + 4, size);
    StoreLittleEndian16(header + 6, block.uncompressedSize);
    sink.Append(header, sizeof header);
    sink.Append(block.bytes.data(), block.bytes.size());
    return sizeof header + block.bytes.size();
}

}  // namespace

uint64_t WriteSingleFileCabinet(const StoredFile& file, const ReadInput& read,
                                FolderEncoder& encoder, CabinetSink& sink) {
    CheckStorable(file);
    const auto frames = static_cast<uint32_t>((file.size + kFrameSize - 1) / kFrameSize);
    const std::vector<uint8_t> head = CabinetHead(file, frames, encoder.CompressionField());
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
        for (const DataBlock& block : blocks) written += AppendDataBlock(block, sink);
        if (written > 0xFFFFFFFFull) throw CabinetLimitError("the cabinet would reach 4 GiB");
    }
    uint8_t total[4];
    StoreLittleEndian32(total, static_cast<uint32_t>(written));
    sink.Patch(8, total, sizeof total);
    return written;
}

}  // namespace tirn::cabinet
