// Ostrad: hosts the management agent's JVM as the Windows service
// "KorvaneQuorvexAgent", installs and removes that service, and runs the agent
// in the foreground for debugging ("-d").

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "agent_host.h"
#include "agent_output_capture.h"
#include "jvm_end_hooks.h"
#include "run_mode.h"
#include "service_control.h"
#include "service_control_logic.h"
#include "service_identity.h"
#include "service_install.h"
#include "service_status.h"

namespace {

// The Ctrl+C and Ctrl+Break handlers still running. A stop wakes the run, which
// then ends the process: it waits for them first, so that no handler thread is
// cut off in the middle. Never destroyed, like the rest of the process's state.
ControlsInProgress& g_debugHandlers = *new ControlsInProgress;
constexpr std::chrono::milliseconds kDebugHandlerLimit(5000);
constexpr unsigned kOutputFinishMs = 2000;

BOOL WINAPI debug_console_handler(DWORD event) {
  if (!stops_foreground_run(event)) return FALSE;
  begin_control(g_debugHandlers);
  std::printf("Stopping %s.\n", kDisplayName);
  std::fflush(stdout);
  stop_sequence();
  end_control(g_debugHandlers);
  return TRUE;
}

void run_debug_mode(int argc, char** argv) {
  enter_debug_mode();
  // Until the JVM exists; then the host's own handler, newer than the JVM's,
  // hands Ctrl+C, Ctrl+Break and a closed console to the same function.
  SetConsoleCtrlHandler(debug_console_handler, TRUE);
  answer_console_stops_with(debug_console_handler, true);
  agent_run(argc, argv);
  wait_until_controls_end(g_debugHandlers, kDebugHandlerLimit);
}

// Returns the process's exit status.
int run_service_mode() {
  std::printf("Wait while service is started...\n");
  std::fflush(stdout);
  // The dispatcher only reads the name.
  SERVICE_TABLE_ENTRYA dispatchTable[] = {{const_cast<char*>(kServiceName), service_main}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(dispatchTable)) error_hook("serviceStartCtrlDispatcher failed.");
  // The agent's last words reach its log before the process ends.
  finish_agent_output(kOutputFinishMs);
  return service_exit_status(0);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything loads a library by name (the JVM does too): the current
  // folder, which anyone may have filled, is no longer searched.
  SetDllDirectoryW(L"");
  switch (select_run_mode(argc, argv)) {
    case RunMode::Install:
      install_service();
      break;
    case RunMode::Remove:
      remove_service();
      break;
    case RunMode::Reinstall:
      remove_service();
      install_service();
      break;
    case RunMode::Debug:
      run_debug_mode(argc, argv);
      break;
    case RunMode::Service:
      return run_service_mode();
  }
  std::fflush(stdout);
  std::exit(0);
}
