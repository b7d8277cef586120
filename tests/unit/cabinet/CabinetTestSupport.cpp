#include "tests/unit/cabinet/CabinetTestSupport.h"

#include <mspack.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace tirn::cabinet::test {

void MemorySink::Append(const uint8_t* bytes, size_t length) {
    data.insert(data.end(), bytes, bytes + length);
}

void MemorySink::Patch(uint64_t offset, const uint8_t* bytes, size_t length) {
    std::copy(bytes, bytes + length, data.begin() + static_cast<ptrdiff_t>(offset));
}

std::vector<uint8_t> WriteCabinet(const std::vector<uint8_t>& input, FolderEncoder& encoder,
                                  const std::string& name) {
    StoredFile file{name, input.size(), 0, 0};
    DosDateTime(1781094896, file.dosDate, file.dosTime);  // 2026-06-10 12:34:56
    size_t at = 0;
    auto read = [&](uint8_t* buffer, size_t length) {
        const size_t n = std::min(length, input.size() - at);
        std::copy_n(input.begin() + static_cast<ptrdiff_t>(at), n, buffer);
        at += n;
        return n;
    };
    MemorySink sink;
    const uint64_t written = WriteSingleFileCabinet(file, read, encoder, sink);
    if (written != sink.data.size()) sink.data.clear();
    return sink.data;
}

namespace {
std::string TemporaryPath(const std::string& name) {
    return "/tmp/tirn-cabinet-test-" + std::to_string(::getpid()) + "-" + name;
}
}  // namespace

std::optional<std::vector<uint8_t>> DecodeWithLibmspack(const std::vector<uint8_t>& cabinet) {
    const std::string cab = TemporaryPath("in.cab"), out = TemporaryPath("out.bin");
    std::ofstream(cab, std::ios::binary)
        .write(reinterpret_cast<const char*>(cabinet.data()),
               static_cast<std::streamsize>(cabinet.size()));
    mscab_decompressor* decoder = mspack_create_cab_decompressor(nullptr);
    std::optional<std::vector<uint8_t>> result;
    if (mscabd_cabinet* opened = decoder->open(decoder, cab.c_str())) {
        if (opened->files != nullptr && opened->files->next == nullptr &&
            decoder->extract(decoder, opened->files, out.c_str()) == MSPACK_ERR_OK) {
            std::ifstream in(out, std::ios::binary);
            result.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        decoder->close(decoder, opened);
    }
    mspack_destroy_cab_decompressor(decoder);
    std::remove(cab.c_str());
    std::remove(out.c_str());
    return result;
}

}  // namespace tirn::cabinet::test
