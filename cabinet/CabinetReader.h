// Reads a cabinet's header, folder entries and file entries from its first
// bytes. Every offset, count and length comes from the file and is checked
// against what is there: a malformed cabinet is an error, never a read
// outside the bytes.
#pragma once

#include "cabinet/Layer.h"

#include "format/ByteReader.h"
#include "cabinet/CabinetFormat.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tirn::cabinet {

struct CabinetFormatError : std::runtime_error {
    CabinetFormatError(const std::string& message, bool cut)
        : std::runtime_error(message), cut(cut) {}
    bool cut;  // the bytes end before the directory does
};

struct FolderEntry {
    uint32_t dataOffset = 0;  // of its first data block
    uint16_t blockCount = 0;
    uint16_t compression = 0;  // type and, for LZX, window
};

struct FileEntry {
    std::string name;  // as stored (UTF-8 when flagged, else bytes)
    uint32_t size = 0;
    uint32_t offsetInFolder = 0;
    uint16_t folder = 0;
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
    uint16_t attributes = 0;
};

struct CabinetDirectory {
    uint32_t cabinetSize = 0;  // as the header says
    uint16_t flags = 0;
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0;
    uint8_t dataReserve = 0;
    std::vector<FolderEntry> folders;
    std::vector<FileEntry> files;
};

// The directory of the cabinet whose first bytes (at least up to the end of
// its file entries) are given. Throws CabinetFormatError.
CabinetDirectory ReadCabinetDirectory(tirn::format::Bytes bytes);

// "MSZIP", "none", "LZX:21" and so on.
std::string CompressionName(uint16_t compression);

// "YYYY-MM-DD HH:MM:SS" of a DOS date and time, as stored.
std::string DosDateTimeText(uint16_t date, uint16_t time);

}  // namespace tirn::cabinet
