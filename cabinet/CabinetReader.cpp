#include "cabinet/CabinetReader.h"

#include <cstdio>

namespace tirn::cabinet {
namespace {

using tirn::format::Bytes;
using tirn::format::FitsIn;

class Cursor {
  public:
    explicit Cursor(Bytes bytes) : m_bytes(bytes) {}
    uint64_t Offset() const { return m_offset; }
    void Seek(uint64_t offset, const char* what) {
        if (offset > m_bytes.size()) Fail(what);
        m_offset = offset;
    }
    void Skip(uint64_t length, const char* what) {
        if (!FitsIn(m_bytes, m_offset, length)) Fail(what);
        m_offset += length;
    }
    uint8_t U8(const char* what) {
        if (!FitsIn(m_bytes, m_offset, 1)) Fail(what);
        return m_bytes[m_offset++];
    }
    uint16_t U16(const char* what) {
        auto value = tirn::format::ReadLittleEndian16(m_bytes, m_offset);
        if (!value) Fail(what);
        m_offset += 2;
        return *value;
    }
    uint32_t U32(const char* what) {
        auto value = tirn::format::ReadLittleEndian32(m_bytes, m_offset);
        if (!value) Fail(what);
        m_offset += 4;
        return *value;
    }
    // A NUL-terminated string of at most limit bytes, terminator included.
    std::string Text(uint32_t limit, const char* what) {
        for (uint64_t n = 0; n < limit && FitsIn(m_bytes, m_offset, n + 1); ++n) {
            if (m_bytes[m_offset + n] == 0) {
                std::string text(reinterpret_cast<const char*>(m_bytes.data() + m_offset), n);
                m_offset += n + 1;
                return text;
            }
        }
        Fail(what);
    }
    [[noreturn]] static void Fail(const char* what) {
        throw CabinetFormatError(std::string("cut or malformed cabinet: ") + what, true);
    }

  private:
    Bytes m_bytes;
    uint64_t m_offset = 0;
};

// The fixed header and what its flags add; returns the first file entry's
// offset and the folder and file counts.
struct HeaderCounts {
    uint32_t firstFile;
    uint16_t folders;
    uint16_t files;
};

HeaderCounts ReadHeader(Cursor& at, CabinetDirectory& cabinet) {
    if (at.U32("signature") != 0x4643534D) {  // "MSCF"
        throw CabinetFormatError("not a cabinet (no MSCF signature)", false);
    }
    at.U32("header");
    cabinet.cabinetSize = at.U32("header");
    at.U32("header");
    HeaderCounts counts{};
    counts.firstFile = at.U32("header");
    at.U32("header");
    const uint8_t minor = at.U8("header");
    const uint8_t major = at.U8("header");
    if (major != 1 || minor != 3) {
        throw CabinetFormatError(
            "cabinet version " + std::to_string(major) + "." + std::to_string(minor) + ", not 1.3",
            false);
    }
    counts.folders = at.U16("header");
    counts.files = at.U16("header");
    cabinet.flags = at.U16("header");
    at.U16("header");  // set id
    at.U16("header");  // index in the set
    if (cabinet.flags & kFlagReservePresent) {
        cabinet.headerReserve = at.U16("reserve sizes");
        cabinet.folderReserve = at.U8("reserve sizes");
        cabinet.dataReserve = at.U8("reserve sizes");
        at.Skip(cabinet.headerReserve, "header reserve");
    }
    if (cabinet.flags & kFlagPreviousCabinet) {
        at.Text(kMaxNameBytes, "previous cabinet's name");
        at.Text(kMaxNameBytes, "previous disk's name");
    }
    if (cabinet.flags & kFlagNextCabinet) {
        at.Text(kMaxNameBytes, "next cabinet's name");
        at.Text(kMaxNameBytes, "next disk's name");
    }
    return counts;
}

FolderEntry ReadFolderEntry(Cursor& at, uint8_t reserve) {
    FolderEntry folder;
    folder.dataOffset = at.U32("folder entry");
    folder.blockCount = at.U16("folder entry");
    folder.compression = at.U16("folder entry");
    at.Skip(reserve, "folder reserve");
    return folder;
}

FileEntry ReadFileEntry(Cursor& at) {
    FileEntry file;
    file.size = at.U32("file entry");
    file.offsetInFolder = at.U32("file entry");
    file.folder = at.U16("file entry");
    file.dosDate = at.U16("file entry");
    file.dosTime = at.U16("file entry");
    file.attributes = at.U16("file entry");
    file.name = at.Text(kMaxNameBytes, "file name");
    return file;
}

}  // namespace

CabinetDirectory ReadCabinetDirectory(Bytes bytes) {
    Cursor at(bytes);
    CabinetDirectory cabinet;
    const HeaderCounts counts = ReadHeader(at, cabinet);
    for (uint16_t i = 0; i < counts.folders; ++i) {
        cabinet.folders.push_back(ReadFolderEntry(at, cabinet.folderReserve));
    }
    at.Seek(counts.firstFile, "file entries");
    for (uint16_t i = 0; i < counts.files; ++i) cabinet.files.push_back(ReadFileEntry(at));
    return cabinet;
}

std::string CompressionName(uint16_t compression) {
    switch (static_cast<Compression>(compression & kCompressionTypeMask)) {
        case Compression::None: return "none";
        case Compression::Mszip: return "MSZIP";
        case Compression::Quantum: return "Quantum";
        case Compression::Lzx: return "LZX:" + std::to_string((compression >> 8) & 0x1F);
    }
    return "unknown (" + std::to_string(compression & kCompressionTypeMask) + ")";
}

std::string DosDateTimeText(uint16_t date, uint16_t time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9),
                  (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F,
                  (time & 0x1F) * 2);
    return text;
}

}  // namespace tirn::cabinet
