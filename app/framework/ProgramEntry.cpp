// The program entry of a framework application: it constructs nothing
// itself (the global application object already exists) and hands over to
// AfxWinMain. Returning ends the process.
#include "CWinApp.h"

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    return AfxWinMain(instance);
}
