#pragma once

#include <windows.h>

// The service main function named in the dispatcher table.
void WINAPI service_main(DWORD argc, LPSTR* argv);
