#pragma once

#include "package/Layer.h"

#include <cstdint>

// The definition version of the package appended to the running executable,
// or 0 when it carries no trailer. Touches only the headers and the trailer,
// however large the payload.
uint32_t ReadPackageVersion();
