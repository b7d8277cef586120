// Cabinet files through libgcab: making the one-file installer cabinet and
// listing what a cabinet declares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tirn::pack {

struct CabinetEntry {
    std::string name;
    uint32_t size = 0;
    std::string date;  // "YYYY-MM-DD HH:MM:SS" as stored
};

// Writes an MSZIP cabinet holding the one file, stored under its base name
// with its modification time.
void MakeSingleFileCabinet(const std::string& installer, const std::string& cabinetPath);

// The files a cabinet declares, in order. Throws ToolError(kExitCabinet)
// when it is not a readable cabinet.
std::vector<CabinetEntry> ListCabinet(const std::string& cabinetPath);

}  // namespace tirn::pack
