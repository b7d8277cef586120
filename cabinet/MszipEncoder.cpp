#include "cabinet/FolderEncoder.h"

#include <zlib.h>

#include <stdexcept>
#include <thread>

namespace tirn::cabinet {
namespace {

// One raw deflate stream, reused from frame to frame on one thread.
class Deflater {
  public:
    Deflater() {
        if (deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK) {
            throw std::runtime_error("zlib: cannot start a deflate stream");
        }
    }
    ~Deflater() { deflateEnd(&m_stream); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // "CK" and the frame as one deflate stream that ends in a final block,
    // the dictionary (the frame before, if any) as its history.
    DataBlock Compress(std::span<const uint8_t> frame, std::span<const uint8_t> dictionary) {
        if (deflateReset(&m_stream) != Z_OK ||
            (!dictionary.empty() &&
             deflateSetDictionary(&m_stream, dictionary.data(),
                                  static_cast<uInt>(dictionary.size())) != Z_OK)) {
            throw std::runtime_error("zlib: cannot prepare a block");
        }
        DataBlock block;
        block.uncompressedSize = static_cast<uint16_t>(frame.size());
        block.bytes.resize(2 + deflateBound(&m_stream, static_cast<uLong>(frame.size())));
        block.bytes[0] = 'C';
        block.bytes[1] = 'K';
        m_stream.next_in = const_cast<Bytef*>(frame.data());
        m_stream.avail_in = static_cast<uInt>(frame.size());
        m_stream.next_out = block.bytes.data() + 2;
        m_stream.avail_out = static_cast<uInt>(block.bytes.size() - 2);
        if (deflate(&m_stream, Z_FINISH) != Z_STREAM_END) {
            throw std::runtime_error("zlib: a block did not fit its bound");
        }
        block.bytes.resize(block.bytes.size() - m_stream.avail_out);
        return block;
    }

  private:
    z_stream m_stream{};
};

class MszipEncoder : public FolderEncoder {
  public:
    explicit MszipEncoder(unsigned threads) : m_threads(threads == 0 ? 1 : threads) {}
    uint16_t CompressionField() const override {
        return cabinet::CompressionField(Compression::Mszip);
    }

    void Encode(std::span<const uint8_t> input, bool, std::vector<DataBlock>& out) override {
        const size_t frames = (input.size() + kFrameSize - 1) / kFrameSize;
        const size_t first = out.size();
        out.resize(first + frames);
        auto frame = [&](size_t i) {
            return input.subspan(i * kFrameSize,
                                 std::min<size_t>(kFrameSize, input.size() - i * kFrameSize));
        };
        auto work = [&](size_t start) {
            Deflater deflater;
            for (size_t i = start; i < frames; i += m_threads) {
                const std::span<const uint8_t> dictionary =
                    i > 0 ? frame(i - 1) : std::span<const uint8_t>(m_previous);
                out[first + i] = deflater.Compress(frame(i), dictionary);
            }
        };
        std::vector<std::exception_ptr> failures(m_threads);
        auto guarded = [&](unsigned t) {
            try {
                work(t);
            } catch (...) {
                failures[t] = std::current_exception();
            }
        };
        std::vector<std::thread> helpers;
        for (unsigned t = 1; t < m_threads && t < frames; ++t) helpers.emplace_back(guarded, t);
        guarded(0);
        for (std::thread& helper : helpers) helper.join();
        for (const std::exception_ptr& failure : failures) {
            if (failure) std::rethrow_exception(failure);
        }
        if (frames > 0) {
            const std::span<const uint8_t> last = frame(frames - 1);
            m_previous.assign(last.begin(), last.end());
        }
    }

  private:
    unsigned m_threads;
    std::vector<uint8_t> m_previous;  // the last frame of the batch before
};

}  // namespace

std::unique_ptr<FolderEncoder> MakeMszipEncoder(unsigned threads) {
    return std::make_unique<MszipEncoder>(threads);
}

}  // namespace tirn::cabinet
