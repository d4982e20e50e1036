#pragma once

// The journal of the stand-in JVM: one line per event, appended to
// fake_jvm.log in the DLL's own folder and closed at once, so a test can read
// it while the host runs and after the host was killed. Line format:
//   <ms since 1970-01-01 UTC, 3 decimals> pid=<n> tid=<n> <event> [key=value ...] [text=<rest of line>]
// Values never hold spaces, except text=, which is always the last field.

#include <windows.h>

#include <string>

// Remembers the folder of the DLL and journals the load with the process's
// Path and current directory. Called from DllMain.
void journal_open(HMODULE self, const char* dllName);

// The folder that holds the DLL, with a trailing backslash.
const std::string& module_folder();

// Appends one event line; format and arguments as printf, giving the event
// name and its fields.
void journal(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
