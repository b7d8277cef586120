// The framework reaching up into the product: must not build.
#include "app/InstallationRecord.h"
