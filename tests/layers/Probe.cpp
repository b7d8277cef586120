// A source of the floor TIRN_LAYER_ names that includes the header
// TIRN_PROBE_HEADER names, of a floor it must not see: it must not build.
#include TIRN_PROBE_HEADER
