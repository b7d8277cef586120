// The codec seam of the cabinet writer: a folder's input goes in as
// consecutive frames of 32 KiB, and comes out as one data block per frame.
// An encoder may keep state from frame to frame (MSZIP's history, LZX's one
// bit stream per folder); it sees the folder's frames in order, in batches.
#pragma once

#include "cabinet/Layer.h"

#include "cabinet/CabinetFormat.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tirn::cabinet {

struct DataBlock {
    std::vector<uint8_t> bytes;  // as stored, at most kMaxDataBlockBytes
    uint16_t uncompressedSize = 0;
};

class FolderEncoder {
  public:
    virtual ~FolderEncoder() = default;
    // The folder entry's compression field.
    virtual uint16_t CompressionField() const = 0;
    // Encodes the next frames of the folder: input holds whole frames, the
    // folder's last one (only when last is true) possibly shorter. Appends
    // one data block per frame to out, in order: an encoder may hold frames
    // back until a later call, but none past the last.
    virtual void Encode(std::span<const uint8_t> input, bool last, std::vector<DataBlock>& out) = 0;
};

std::unique_ptr<FolderEncoder> MakeStoredEncoder();
// Deflate through zlib, "CK" before each block; the blocks of a batch are
// compressed on up to threads threads, each with the frame before it as its
// dictionary, as the decoders keep that history.
std::unique_ptr<FolderEncoder> MakeMszipEncoder(unsigned threads);
// How hard the LZX encoder looks for a smaller parse, numbered like xz's
// presets: 1 is the greedy parse over hash buckets (fastest), 2 the
// near-optimal parse (the default), 3 the same with deeper searches and
// two more passes.
enum class LzxEffort { Fastest = 1, Normal = 2, Best = 3 };
inline constexpr LzxEffort kLzxEfforts[] = {LzxEffort::Fastest, LzxEffort::Normal, LzxEffort::Best};
// LZX with a window of 2^windowBits bytes (15 to 21): one bit stream for the
// whole folder, parsed frame by frame on one thread; with threads above 1,
// the near-optimal efforts search the next frame for matches on a second
// thread meanwhile (the same bytes either way). No data block holds more
// than dataBlockLimit bytes (less than kMaxDataBlockBytes only to test how
// it keeps to it; at least a frame's literals, 34 KiB).
std::unique_ptr<FolderEncoder> MakeLzxEncoder(unsigned windowBits,
                                              LzxEffort effort = LzxEffort::Normal,
                                              uint32_t dataBlockLimit = kMaxDataBlockBytes,
                                              unsigned threads = 1);

}  // namespace tirn::cabinet
