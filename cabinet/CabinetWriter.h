// Writes a cabinet of one folder holding one file: header, folder entry,
// file entry, then the data blocks as the folder's encoder makes them. The
// input streams through in batches; memory does not grow with the file.
#pragma once

#include "cabinet/Layer.h"

#include "cabinet/FolderEncoder.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace tirn::cabinet {

// What the cabinet format cannot hold, or an input that ends early.
struct CabinetLimitError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct StoredFile {
    std::string name;  // UTF-8, no directory part
    uint64_t size = 0;
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
};

// Where the cabinet goes: appended to in order, and patched once at the end
// (the header's total size is known only then).
class CabinetSink {
  public:
    virtual ~CabinetSink() = default;
    virtual void Append(const uint8_t* bytes, size_t length) = 0;
    virtual void Patch(uint64_t offset, const uint8_t* bytes, size_t length) = 0;
};

// Reads up to length bytes of the file into buffer; fewer only at its end.
using ReadInput = std::function<size_t(uint8_t* buffer, size_t length)>;

// Throws CabinetLimitError for a name the format cannot store, a file
// larger than one folder can hold (65535 blocks of 32 KiB), a cabinet that
// would reach 4 GiB, or an input shorter than file.size. Returns the
// cabinet's size.
uint64_t WriteSingleFileCabinet(const StoredFile& file, const ReadInput& read,
                                FolderEncoder& encoder, CabinetSink& sink);

// The largest file one folder holds.
inline constexpr uint64_t kLargestStoredFile = uint64_t{kMaxDataBlocks} * kFrameSize;

// DOS date and time of a moment in seconds since 1970 (UTC), clamped to the
// years the format can say (1980 to 2107).
void DosDateTime(int64_t unixSeconds, uint16_t& date, uint16_t& time);

}  // namespace tirn::cabinet
