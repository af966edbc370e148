// The stub's entry. Until the windows exist it only proves the link and the
// import table; the session's start-up replaces it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
