// A package/ source that reaches up into start-up: must not build.
#include "app/UnpackingRoad.h"
