// The one application object; the framework's entry point runs it.
#include "TirnHomeISSetupApp.h"

CTirnHomeISSetupApp theApp;
