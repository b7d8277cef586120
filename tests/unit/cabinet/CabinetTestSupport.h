// Writing a cabinet in memory and decoding it with libmspack, for the
// cabinet tests and the round-trip fuzzer.
#pragma once

#include "cabinet/CabinetWriter.h"

#include <optional>
#include <string>
#include <vector>

namespace tirn::cabinet::test {

class MemorySink : public CabinetSink {
  public:
    void Append(const uint8_t* bytes, size_t length) override;
    void Patch(uint64_t offset, const uint8_t* bytes, size_t length) override;
    std::vector<uint8_t> data;
};

// A one-file cabinet of input, its file stored as name at a fixed time.
std::vector<uint8_t> WriteCabinet(const std::vector<uint8_t>& input, FolderEncoder& encoder,
                                  const std::string& name = "TirnHomeSetup.exe");

// The one file of the cabinet as libmspack extracts it (checking every
// block's checksum); empty on any failure.
std::optional<std::vector<uint8_t>> DecodeWithLibmspack(const std::vector<uint8_t>& cabinet);

}  // namespace tirn::cabinet::test
