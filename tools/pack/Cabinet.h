// The installer's cabinet: made by our own writer, listed by our own
// reader.
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/Files.h"
#include "cabinet/CabinetReader.h"
#include "cabinet/FolderEncoder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tirn::pack {

struct CabinetEntry {
    std::string name;
    uint32_t size = 0;
    std::string date;         // "YYYY-MM-DD HH:MM:SS" as stored
    std::string compression;  // of its folder: "MSZIP", "none", "LZX:21"
};

// LZX with a 2 MiB window by default: the smallest setups, decoded by every
// cabinet reader we test with and by the launcher's road.
struct CabinetCompression {
    enum Kind { None, Mszip, Lzx } kind = Lzx;
    unsigned windowBits = 21;  // for LZX
    cabinet::LzxEffort effort = cabinet::LzxEffort::Normal;
};

// Parses "mszip", "none", "lzx" (window 2^21) or "lzx:15" to "lzx:21";
// empty for anything else.
std::optional<CabinetCompression> ParseCompression(const std::string& text);

// Writes a cabinet holding the one file, stored under its base name with its
// modification time (clamped to SOURCE_DATE_EPOCH when that is set, so that
// the same inputs give the same bytes on any machine). Throws ToolError:
// kExitInput for an unreadable installer, kExitTooLarge for one the cabinet
// format cannot hold.
// The last component of a path: the name an installer is stored under.
std::string BaseName(const std::string& path);

void MakeSingleFileCabinet(const std::string& installer, const std::string& cabinetPath,
                           CabinetCompression compression, bool progress = false);

// The directory of the cabinet file, read from its start (a small read, a
// larger one when a directory of many files needs it). Throws
// cabinet::CabinetFormatError.
cabinet::CabinetDirectory ReadCabinetDirectoryOf(const File& cabinet);

// The files a cabinet declares, in order. Throws ToolError(kExitCabinet)
// when it is not a readable cabinet.
std::vector<CabinetEntry> ListCabinet(const std::string& cabinetPath);

}  // namespace tirn::pack
