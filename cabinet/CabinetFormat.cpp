#include "cabinet/CabinetFormat.h"

#include "format/ByteReader.h"

namespace tirn::cabinet {

uint32_t BlockChecksum(const uint8_t* bytes, size_t length, uint32_t seed) {
    uint32_t sum = seed;
    size_t at = 0;
    for (; at + 4 <= length; at += 4) {
        sum ^= format::LoadLittleEndian32(bytes + at);
    }
    uint32_t tail = 0;
    for (; at < length; ++at) tail = tail << 8 | bytes[at];
    return sum ^ tail;
}

uint32_t DataBlockChecksum(const uint8_t* data, uint16_t compressedSize,
                           uint16_t uncompressedSize) {
    uint8_t sizes[4];
    format::StoreLittleEndian16(sizes, compressedSize);
    format::StoreLittleEndian16(sizes + 2, uncompressedSize);
    return BlockChecksum(sizes, 4, BlockChecksum(data, compressedSize, 0));
}

}  // namespace tirn::cabinet
