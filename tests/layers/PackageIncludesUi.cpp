// A package/ source that reaches into the windows: must not build.
#include "ui/InitializingDlg.h"
