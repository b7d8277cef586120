// The packer's command line: it stands on format/ and cabinet/ and is seen
// by none of the floors.
#pragma once

#if defined(TIRN_LAYER_FRAMEWORK) || defined(TIRN_LAYER_FORMAT) || defined(TIRN_LAYER_CABINET) || \
    defined(TIRN_LAYER_UI) || defined(TIRN_LAYER_PACKAGE) || defined(TIRN_LAYER_APP)
#error "tools/pack/ is the packer's own: no floor may include it"
#endif
