// The package format, portable: plain C++ over byte spans, shared by the
// launcher's package steps, the cabinet code and the packer. It stands on
// the standard library alone, beside the framework, which does not use it.
#pragma once

#if defined(TIRN_LAYER_FRAMEWORK)
#error "format/ stands beside the framework: the framework may not include it"
#endif
