// Start-up, the top floor: it may use every floor below, and none of them
// may include it. The build of each floor defines its TIRN_LAYER_ name, so
// such an include stops the build.
#pragma once

#if defined(TIRN_LAYER_FRAMEWORK) || defined(TIRN_LAYER_FORMAT) || defined(TIRN_LAYER_CABINET) || \
    defined(TIRN_LAYER_UI) || defined(TIRN_LAYER_PACKAGE) || defined(TIRN_LAYER_PACKER)
#error "app/ is the top floor: nothing below it may include it"
#endif
