// The package steps: they stand on the framework and the format code, and
// know neither the application object nor any window. The build of each
// floor defines its TIRN_LAYER_ name, so a wrong include stops the build.
#pragma once

#if defined(TIRN_LAYER_FRAMEWORK) || defined(TIRN_LAYER_FORMAT) || defined(TIRN_LAYER_CABINET) || \
    defined(TIRN_LAYER_UI) || defined(TIRN_LAYER_PACKER)
#error "package/ stands beside ui/ and above this floor: include only what lies below it"
#endif
