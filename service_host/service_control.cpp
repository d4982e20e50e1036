#include "service_control.h"

#include <cstdlib>
#include <system_error>
#include <thread>

#include "agent_host.h"
#include "agent_output_capture.h"
#include "service_control_logic.h"
#include "service_identity.h"
#include "service_status.h"

namespace {

void WINAPI control_handler(DWORD control);
BOOL WINAPI service_console_handler(DWORD event);

ServiceControl& make_service_control() {
  ServiceControl& service = *new ServiceControl;
  service.reporter = &process_status_reporter();
  service.ops.registerControlHandler = [] {
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kServiceName, control_handler);
    set_status_handle(handle);
    return handle != nullptr;
  };
  service.ops.registerConsoleHandler = [] { SetConsoleCtrlHandler(service_console_handler, TRUE); };
  service.ops.agentRun = [](int argc, char** argv) { agent_run(argc, argv); };
  service.ops.noteStop = [] { note_stop_coming(); };
  service.ops.stopSequence = [] { stop_sequence(); };
  // The thread is left to run: the process may end before it does, once
  // its stopped report has let the dispatcher return.
  service.ops.startThread = [](std::function<void()> work) {
    try {
      std::thread(work).detach();
    } catch (const std::system_error&) {
      work();  // no thread to be had: the control waits for the stop
    }
  };
  return service;
}

// Made on first use by whichever thread comes first; never changed after.
// Neither it nor the count of running controls is ever destroyed: handlers
// may still be inside them while the process ends.
ServiceControl& service_control() {
  static ServiceControl& service = make_service_control();
  return service;
}

ControlsInProgress& g_controls = *new ControlsInProgress;

// A stop's answer to the SCM takes microseconds after its stopped report;
// the limit only keeps a stuck handler from holding the process.
constexpr std::chrono::milliseconds kControlAnswerLimit(5000);
// The dispatcher sends that answer only after the handler has returned: give
// it a moment, or the SCM may find the control pipe broken instead.
constexpr DWORD kAnswerSendMs = 100;

void let_running_controls_answer() {
  if (wait_until_controls_end(g_controls, kControlAnswerLimit)) Sleep(kAnswerSendMs);
}

void WINAPI control_handler(DWORD control) {
  begin_control(g_controls);
  handle_service_control(service_control(), control);
  end_control(g_controls);
}

BOOL WINAPI service_console_handler(DWORD event) {
  return handle_service_console_event(service_control(), event) ? TRUE : FALSE;
}

}  // namespace

void WINAPI service_main(DWORD argc, LPSTR* argv) {
  // A service has no console: the agent's output goes to the log folder.
  capture_agent_output();
  // Runs when main returns, after the dispatcher has seen the service stopped.
  static const bool waitAtExit = std::atexit(let_running_controls_answer) == 0;
  (void)waitAtExit;
  // Once the JVM exists, a system shutdown still stops the agent as here.
  answer_console_stops_with(service_console_handler, false);
  run_service_main(service_control(), static_cast<int>(argc), argv);
}
