#include "service_control.h"

// Stub: filled in with service mode.
void WINAPI service_main(DWORD, LPSTR*) {}
