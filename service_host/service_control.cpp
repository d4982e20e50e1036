#include "service_control.h"

#include "agent_host.h"
#include "service_control_logic.h"
#include "service_identity.h"
#include "service_status.h"

namespace {

void WINAPI control_handler(DWORD control);
BOOL WINAPI service_console_handler(DWORD event);

ServiceControl make_service_control() {
  ServiceControl service;
  service.reporter = &process_status_reporter();
  service.ops.registerControlHandler = [] {
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kServiceName, control_handler);
    set_status_handle(handle);
    return handle != nullptr;
  };
  service.ops.registerConsoleHandler = [] { SetConsoleCtrlHandler(service_console_handler, TRUE); };
  service.ops.agentRun = [](int argc, char** argv) { agent_run(argc, argv); };
  service.ops.stopSequence = [] { stop_sequence(); };
  return service;
}

// Made on first use by whichever thread comes first; never changed after.
ServiceControl& service_control() {
  static ServiceControl service = make_service_control();
  return service;
}

void WINAPI control_handler(DWORD control) { handle_service_control(service_control(), control); }

BOOL WINAPI service_console_handler(DWORD event) {
  return handle_service_console_event(service_control(), event) ? TRUE : FALSE;
}

}  // namespace

void WINAPI service_main(DWORD argc, LPSTR* argv) {
  run_service_main(service_control(), static_cast<int>(argc), argv);
}
