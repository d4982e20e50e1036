// Ostrad: hosts the management agent's JVM as the Windows service
// "KorvaneQuorvexAgent", installs and removes that service, and runs the agent
// in the foreground for debugging ("-d").

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

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

// The foreground stop still running. A stop wakes the run, which then ends
// the process: it waits for the stop first, so that its thread is not cut off
// in the middle. Never destroyed, like the rest of the process's state.
ControlsInProgress& g_debugHandlers = *new ControlsInProgress;
constexpr std::chrono::milliseconds kDebugHandlerLimit(5000);
std::atomic<bool> g_stopBegun{false};

// Ends the process with status 0 at once, with the agent thread and a thread
// left in the agent's cleanup: nothing waits for either of them.
[[noreturn]] void end_foreground_run() {
  std::fflush(stdout);
  ExitProcess(0);
}

void stop_foreground_run() {
  if (stop_sequence() == StopOutcome::CleanupGivenUp) {
    std::printf("Cleanup given up: the agent's cleanup did not return within %lld s.\n",
                static_cast<long long>(kCleanupLimit.count()));
    end_foreground_run();  // the agent's main may never return now
  }
  end_control(g_debugHandlers);
}

// The stop runs on a thread of its own, so that a second interrupt reaches
// this handler while the agent cleans up; it ends the process at once.
BOOL WINAPI debug_console_handler(DWORD event) {
  if (!stops_foreground_run(event)) return FALSE;
  if (g_stopBegun.exchange(true)) {
    std::printf("Ending %s at once, without waiting for the agent's cleanup.\n", kDisplayName);
    end_foreground_run();
  }
  std::printf("Stopping %s.\n", kDisplayName);
  std::fflush(stdout);
  begin_control(g_debugHandlers);
  try {
    std::thread(stop_foreground_run).detach();
  } catch (const std::system_error&) {
    stop_foreground_run();  // no thread to be had: this handler waits for the stop
  }
  // The system ends the process as soon as the handler of a closed console
  // returns (and on its own after a few seconds): wait for the stop here.
  if (event == CTRL_CLOSE_EVENT) wait_until_controls_end(g_debugHandlers, kCleanupLimit + kDebugHandlerLimit);
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
  finish_agent_output();
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
