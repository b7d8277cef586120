// The ground floor of the launcher: our application framework over Win32
// and the small owners. It stands on the system alone; the portable floors
// (format/, cabinet/) and the packer must not reach into it. The build of
// each floor defines its TIRN_LAYER_ name, so such an include stops the
// build.
#pragma once

#if defined(TIRN_LAYER_FORMAT) || defined(TIRN_LAYER_CABINET) || defined(TIRN_LAYER_PACKER)
#error "framework/ is Windows-only: the portable floors and the packer may not include it"
#endif
