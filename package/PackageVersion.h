#pragma once

#include "package/Layer.h"

#include "framework/WindowsApi.h"
#include "format/PackageTrailer.h"

#include <cstdint>

// What a setup carries, read once at the start of a run: whether it could
// be read, whether a trailer follows its section data, and whether the
// payload lies within the file. Touches only the headers and the trailer,
// however large the payload.
struct PackageFacts {
    bool readable = false;  // the file could be opened (else error says why)
    DWORD error = 0;
    bool found = false;     // a trailer follows the section data
    bool complete = false;  // and its payload lies within the file
    uint64_t trailerOffset = 0;
    tirn::format::PackageTrailer trailer{};
};

// The package of the setup at path, or of the running executable when path
// is null or empty.
PackageFacts ReadPackageFacts(const wchar_t* path = nullptr);

// The definition version of the package appended to the running executable,
// or 0 when it carries no trailer.
uint32_t ReadPackageVersion();
