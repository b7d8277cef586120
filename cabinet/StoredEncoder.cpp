#include "cabinet/FolderEncoder.h"

namespace tirn::cabinet {
namespace {

class StoredEncoder : public FolderEncoder {
  public:
    uint16_t CompressionField() const override {
        return cabinet::CompressionField(Compression::None);
    }
    void Encode(std::span<const uint8_t> input, bool, std::vector<DataBlock>& out) override {
        for (size_t at = 0; at < input.size(); at += kFrameSize) {
            const std::span<const uint8_t> frame =
                input.subspan(at, std::min<size_t>(kFrameSize, input.size() - at));
            out.push_back(
                DataBlock{{frame.begin(), frame.end()}, static_cast<uint16_t>(frame.size())});
        }
    }
};

}  // namespace

std::unique_ptr<FolderEncoder> MakeStoredEncoder() {
    return std::make_unique<StoredEncoder>();
}

}  // namespace tirn::cabinet
