// A window that reaches into the package steps: must not build.
#include "package/CabinetExtraction.h"
