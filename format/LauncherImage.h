// Which launcher a PE image is: the two builds of the launcher are a PE32
// for i386 and a PE32+ for AMD64, with one package format after either.
#pragma once

#include "format/Layer.h"

#include "format/ByteReader.h"
#include "format/PeImage.h"

#include <optional>

namespace tirn::format {

enum class LauncherKind { Pe32I386, Pe32PlusAmd64 };

// The kind of the image whose headers start at image[0]: its file header's
// machine and its optional header's magic must agree on one of the two.
// Empty for anything else (not a PE, another machine, a mixed header).
std::optional<LauncherKind> ReadLauncherKind(Bytes image);
std::optional<LauncherKind> LauncherKindOf(const PeImage& image);

// "PE32 i386" or "PE32+ AMD64", as the packer reports it.
const char* LauncherKindName(LauncherKind kind);

}  // namespace tirn::format
