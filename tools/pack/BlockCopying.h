// Copying a payload in the format's blocks, each transformed on the way
// (scrambled, descrambled, or left as it is): one block of memory whatever
// the size.
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/Files.h"
#include "tools/pack/Progress.h"
#include "format/PayloadScrambling.h"

#include <algorithm>
#include <vector>

namespace tirn::pack {

// Copies length bytes from source at offset into out, scrambling or
// descrambling each 40960-byte block on the way. One block of memory.
template <typename Transform>
void CopyBlocks(const File& source, uint64_t offset, uint64_t length, File& out,
                Transform transform, Progress& progress) {
    std::vector<uint8_t> block(tirn::format::kPayloadBlockSize);
    for (uint64_t done = 0; done < length;) {
        uint32_t n = static_cast<uint32_t>(
            std::min<uint64_t>(tirn::format::kPayloadBlockSize, length - done));
        if (source.ReadAt(offset + done, block.data(), n) != n) {
            throw ToolError(kExitInput, source.Path() + ": shorter than expected");
        }
        transform(block.data(), n);
        out.Write(block.data(), n);
        done += n;
        progress.Update(done);
    }
}

}  // namespace tirn::pack
