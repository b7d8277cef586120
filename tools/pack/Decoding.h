// Decoding a one-file cabinet with an independent decoder: libmspack on
// Linux, the system's cabinet library on Windows. Nothing is written to
// disk: the file's bytes are counted, and its first bytes kept to see what
// kind of file it is.
#pragma once

#include "tools/pack/Layer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tirn::pack {

struct DecodedFile {
    uint64_t size = 0;
    std::vector<uint8_t> head;  // its first bytes (up to 64 KiB)
};

inline constexpr size_t kDecodedHeadBytes = 64 * 1024;

// The cabinet's one file, decoded whole; empty with a reason in error when
// the decoder refuses the cabinet or any of its blocks.
std::optional<DecodedFile> DecodeSingleFile(const std::string& cabinetPath, std::string& error);

// The name of the decoder, for reports.
const char* DecoderName();

}  // namespace tirn::pack
