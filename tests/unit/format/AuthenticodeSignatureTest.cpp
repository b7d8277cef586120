// Reading a signature's parts without trusting them: the certificate
// table's entry and the digest inside the signed content, over crafted DER.
#include "format/AuthenticodeSignature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tirn::format;

namespace {

using Der = std::vector<uint8_t>;

Der Element(uint8_t tag, const Der& content) {
    Der out{tag};
    if (content.size() < 0x80) {
        out.push_back(static_cast<uint8_t>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(content.size() >> 8));
        out.push_back(static_cast<uint8_t>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Der Concat(const Der& a, const Der& b) {
    Der out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

const Der kPeImageData = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
const Der kSha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Der kMd5 = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};

// SpcIndirectDataContent: the data attribute, then the DigestInfo.
Der IndirectData(const Der& dataType, const Der& algorithm, size_t digestLength) {
    const Der data =
        Element(0x30, Concat(Element(0x06, dataType), Element(0x30, Der{0x03, 0x01, 0x00})));
    const Der algorithmId = Element(0x30, Concat(Element(0x06, algorithm), Der{0x05, 0x00}));
    const Der digestInfo =
        Element(0x30, Concat(algorithmId, Element(0x04, Der(digestLength, 0xAB))));
    return Element(0x30, Concat(data, digestInfo));
}

TEST(SignedDigestOf, TakesAnImageDigestAndNamesWhatIsWrongElse) {
    Der cut = IndirectData(kPeImageData, kSha256, 32);
    cut.pop_back();
    Der longLength = IndirectData(kPeImageData, kSha256, 32);
    longLength[1] = 0x84;  // a four-byte length that claims more than there is
    Der indefinite = IndirectData(kPeImageData, kSha256, 32);
    indefinite[1] = 0x80;
    struct Case {
        const char* name;
        Der content;
        const char* problem;  // nullptr: read
    };
    const Case cases[] = {
        {"SHA-256 image digest", IndirectData(kPeImageData, kSha256, 32), nullptr},
        {"a digest of the wrong length", IndirectData(kPeImageData, kSha256, 20), "20 bytes long"},
        {"MD5", IndirectData(kPeImageData, kMd5, 16), "none of SHA-1"},
        {"not a PE image's", IndirectData(kSha256, kSha256, 32), "not a PE image's"},
        {"cut by a byte", cut, "no Authenticode image digest"},
        {"a length past the end", longLength, "no Authenticode image digest"},
        {"an indefinite length", indefinite, "no Authenticode image digest"},
        {"empty", {}, "no Authenticode image digest"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = SignedDigestOf(c.content);
        if (!c.problem) {
            ASSERT_TRUE(std::holds_alternative<SignedDigest>(read));
            EXPECT_EQ(std::get<SignedDigest>(read).algorithm, DigestAlgorithm::Sha256);
            EXPECT_EQ(std::get<SignedDigest>(read).digest.size(), 32u);
            EXPECT_EQ(std::get<SignedDigest>(read).digest[0], 0xAB);
        } else {
            ASSERT_TRUE(std::holds_alternative<std::string>(read));
            EXPECT_NE(std::get<std::string>(read).find(c.problem), std::string::npos)
                << std::get<std::string>(read);
        }
    }
}

TEST(SignedDataOf, OneWholeEntryWithNothingHiddenBesideIt) {
    // A certificate table: the entry's header, its DER element, then
    // padding; length is the entry's length field, size the table's.
    auto table = [](uint32_t length, uint16_t revision, uint16_t type, const Der& padding,
                    size_t size) {
        Der bytes(8);
        StoreLittleEndian32(bytes.data(), length);
        StoreLittleEndian16(bytes.data() + 4, revision);
        StoreLittleEndian16(bytes.data() + 6, type);
        const Der element = Element(0x30, Der(86, 0x02));  // 88 bytes
        bytes.insert(bytes.end(), element.begin(), element.end());
        bytes.insert(bytes.end(), padding.begin(), padding.end());
        bytes.resize(size, 0);
        return bytes;
    };
    struct Case {
        const char* name;
        Der table;
        bool read;  // the 88 bytes of the element, else refused
    };
    const Case cases[] = {
        {"exact", table(96, 0x200, 2, {}, 96), true},
        {"padded to 8 inside the entry", table(100, 0x200, 2, Der(4, 0), 104), true},
        {"padded to 8 after the entry", table(97, 0x200, 2, Der(1, 0), 104), true},
        {"a second entry after the first", table(96, 0x200, 2, {}, 200), false},
        {"bytes after the signed data", table(104, 0x200, 2, Der{0, 0, 7, 0}, 104), false},
        {"an entry longer than the table", table(105, 0x200, 2, {}, 104), false},
        {"an entry shorter than its signed data", table(90, 0x200, 2, {}, 96), false},
        {"shorter than its header", table(7, 0x200, 2, {}, 8), false},
        {"an X.509 entry", table(96, 0x200, 1, {}, 96), false},
        {"revision 1.0", table(96, 0x100, 2, {}, 96), false},
        {"cut header", Der(6, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = SignedDataOf(c.table);
        if (c.read) {
            ASSERT_TRUE(std::holds_alternative<Bytes>(read)) << std::get<std::string>(read);
            EXPECT_EQ(std::get<Bytes>(read).size(), 88u);
        } else {
            EXPECT_TRUE(std::holds_alternative<std::string>(read));
        }
    }
}

TEST(DerContentOf, TheOctetsWithoutTagAndLength) {
    const Der element = Element(0x30, Der(300, 7));
    const std::optional<Bytes> content = DerContentOf(element);
    ASSERT_TRUE(content.has_value());
    EXPECT_EQ(content->size(), 300u);
    EXPECT_EQ(content->data(), element.data() + 4);
    EXPECT_FALSE(DerContentOf(Der(element.begin(), element.end() - 1)).has_value());
}

}  // namespace
