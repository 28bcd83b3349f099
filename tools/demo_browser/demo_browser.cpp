// The demo browser that the demo package installs: a program whose version
// resource carries the product version.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return 0; }
