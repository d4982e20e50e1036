#pragma once

// The process's one status reporter, bound to SetServiceStatus. Win32 side.

#include <windows.h>

#include <cstdint>

#include "status_reporter.h"

StatusReporter& process_status_reporter();

// Stores the handle that RegisterServiceCtrlHandlerA returned; reports go to it.
void set_status_handle(SERVICE_STATUS_HANDLE handle);

// From now on every report is silent (debug mode).
void enter_debug_mode();

// report_status / report_current_status on the process's reporter.
bool report(std::uint32_t state, std::uint32_t win32ExitCode, std::uint32_t waitHint);
bool report_current(std::uint32_t waitHint);
// report_failed on the process's reporter: stopped, with ERROR_SERVICE_SPECIFIC_ERROR and the code.
bool report_failure(std::uint32_t serviceSpecificExitCode);

// Receives failure texts: a debugger sees them, and they go to the
// Application event log as error events; the console stays silent.
// text is in the ANSI code page, as the host's own texts are.
void error_hook(const char* text);
// The same for a text in UTF-16, one that carries the agent's own text.
void agent_error_hook(const char16_t* text);
