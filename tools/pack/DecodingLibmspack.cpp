// The independent decoder on Linux: libmspack, through an mspack_system of
// our own whose output file is a counter, not a file.
#include "tools/pack/Decoding.h"

#include <mspack.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tirn::pack {

namespace {

// What an mspack_file stands for here: the cabinet (read from disk) or the
// decoded output (counted).
struct Stream {
    std::FILE* file = nullptr;
    DecodedFile* output = nullptr;
};

constexpr char kOutputName[] = "\x01tirn-pack-decoded-output";

struct System {
    mspack_system base;
    DecodedFile* output;
};

mspack_file* Open(mspack_system* self, const char* name, int mode) {
    auto* system = reinterpret_cast<System*>(self);
    auto* stream = new Stream;
    if (std::strcmp(name, kOutputName) == 0 && mode == MSPACK_SYS_OPEN_WRITE) {
        stream->output = system->output;
    } else if (mode == MSPACK_SYS_OPEN_READ) {
        stream->file = std::fopen(name, "rb");
    }
    if (stream->file == nullptr && stream->output == nullptr) {
        delete stream;
        return nullptr;
    }
    return reinterpret_cast<mspack_file*>(stream);
}

void Close(mspack_file* file) {
    auto* stream = reinterpret_cast<Stream*>(file);
    if (stream->file != nullptr) std::fclose(stream->file);
    delete stream;
}

int Read(mspack_file* file, void* buffer, int bytes) {
    auto* stream = reinterpret_cast<Stream*>(file);
    if (stream->file == nullptr || bytes < 0) return -1;
    const size_t n = std::fread(buffer, 1, static_cast<size_t>(bytes), stream->file);
    return std::ferror(stream->file) ? -1 : static_cast<int>(n);
}

int Write(mspack_file* file, void* buffer, int bytes) {
    auto* stream = reinterpret_cast<Stream*>(file);
    if (stream->output == nullptr || bytes < 0) return -1;
    DecodedFile& output = *stream->output;
    const size_t keep =
        std::min<size_t>(static_cast<size_t>(bytes),
                         kDecodedHeadBytes - std::min(kDecodedHeadBytes, output.head.size()));
    const auto* bytesIn = static_cast<const uint8_t*>(buffer);
    output.head.insert(output.head.end(), bytesIn, bytesIn + keep);
    output.size += static_cast<uint64_t>(bytes);
    return bytes;
}

int Seek(mspack_file* file, off_t offset, int mode) {
    auto* stream = reinterpret_cast<Stream*>(file);
    if (stream->file == nullptr) return -1;
    const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                       : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                                     : SEEK_END;
    return fseeko(stream->file, offset, whence) == 0 ? 0 : -1;
}

off_t Tell(mspack_file* file) {
    auto* stream = reinterpret_cast<Stream*>(file);
    return stream->file != nullptr ? ftello(stream->file) : -1;
}

void Message(mspack_file*, const char*, ...) {}

void* Allocate(mspack_system*, size_t bytes) {
    return std::malloc(bytes);
}

void Free(void* block) {
    std::free(block);
}

void Copy(void* source, void* target, size_t bytes) {
    std::memmove(target, source, bytes);
}

const char* ErrorText(int code) {
    switch (code) {
        case MSPACK_ERR_OK: return "no error";
        case MSPACK_ERR_READ: return "read error";
        case MSPACK_ERR_WRITE: return "write error";
        case MSPACK_ERR_SIGNATURE: return "not a cabinet";
        case MSPACK_ERR_DATAFORMAT: return "bad data format";
        case MSPACK_ERR_CHECKSUM: return "checksum error";
        case MSPACK_ERR_DECRUNCH: return "the compressed data does not decode";
        default: return "decoder error";
    }
}

}  // namespace

const char* DecoderName() {
    return "libmspack";
}

std::optional<DecodedFile> DecodeSingleFile(const std::string& cabinetPath, std::string& error) {
    DecodedFile output;
    System system{
        {&Open, &Close, &Read, &Write, &Seek, &Tell, &Message, &Allocate, &Free, &Copy, nullptr},
        &output};
    mscab_decompressor* decoder = mspack_create_cab_decompressor(&system.base);
    if (decoder == nullptr) {
        error = "libmspack cannot start";
        return std::nullopt;
    }
    std::optional<DecodedFile> result;
    mscabd_cabinet* cabinet = decoder->open(decoder, cabinetPath.c_str());
    if (cabinet == nullptr) {
        error = std::string("libmspack: ") + ErrorText(decoder->last_error(decoder));
    } else if (cabinet->files == nullptr || cabinet->files->next != nullptr) {
        error = "libmspack: not exactly one file";
    } else if (int code = decoder->extract(decoder, cabinet->files, kOutputName);
               code != MSPACK_ERR_OK) {
        error = std::string("libmspack: ") + ErrorText(code);
    } else {
        result = std::move(output);
    }
    if (cabinet != nullptr) decoder->close(decoder, cabinet);
    mspack_destroy_cab_decompressor(decoder);
    return result;
}

}  // namespace tirn::pack
