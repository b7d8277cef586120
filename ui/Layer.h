// The windows: they stand on the framework only. Lower floors (the framework,
// the format code, package/) must not reach up into them; the build of each
// floor defines its TIRN_LAYER_ name, so such an include stops the build.
#pragma once

#if defined(TIRN_LAYER_FRAMEWORK) || defined(TIRN_LAYER_FORMAT) || defined(TIRN_LAYER_CABINET) || \
    defined(TIRN_LAYER_PACKAGE) || defined(TIRN_LAYER_PACKER)
#error "ui/ stands above this floor: include only what lies below it"
#endif
