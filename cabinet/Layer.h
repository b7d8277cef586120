// The cabinet writer and reader with their codecs, portable: it stands on
// format/ (byte reading) and is used by the packer; the framework beside it
// and format/ below it may not include it.
#pragma once

#if defined(TIRN_LAYER_FRAMEWORK) || defined(TIRN_LAYER_FORMAT)
#error "cabinet/ stands above format/ and beside the framework: neither may include it"
#endif
