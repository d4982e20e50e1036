#include "service_control_logic.h"

namespace {

// The first stop of either kind says so before anyone reports stop pending;
// false for a later one.
bool announce_stop(ServiceControl& service) {
  const bool first = !service.stopStarted.exchange(true);
  if (first) service.ops.noteStop();
  report_status(*service.reporter, kStateStopPending, 0, kControlWaitHintMs);
  return first;
}

}  // namespace

void run_service_main(ServiceControl& service, int argc, char** argv) {
  const bool haveStatusHandle = service.ops.registerControlHandler();
  bool carryOn = haveStatusHandle;
  // Registered even without a status handle: a shutdown still stops the agent.
  service.ops.registerConsoleHandler();
  set_fixed_status_fields(*service.reporter);
  if (haveStatusHandle && !report_status(*service.reporter, kStateStartPending, 0, kControlWaitHintMs)) carryOn = false;
  if (carryOn) service.ops.agentRun(argc, argv);
  // A failed run has already reported stopped with its codes, which this
  // report repeats: the reporter keeps the first stopped report's codes.
  if (haveStatusHandle) report_status(*service.reporter, kStateStopped, 0, 0);
}

void handle_service_control(ServiceControl& service, std::uint32_t control) {
  // At a system shutdown the agent gets its cleanup as at a stop; the system
  // would otherwise wait for the service and then end it without one.
  if (control == kControlStop || control == kControlShutdown) {
    if (announce_stop(service)) service.ops.startThread([&service] { service.ops.stopSequence(); });
    return;
  }
  // Interrogate and anything else: the state stays as it is.
  report_current_status(*service.reporter, kControlWaitHintMs);
}

bool handle_service_console_event(ServiceControl& service, std::uint32_t event) {
  if (event == kConsoleShutdown) {
    // Even after a stop control: the system must not end the process before
    // that stop's cleanup is done or given up.
    announce_stop(service);
    service.ops.stopSequence();
    return true;
  }
  report_current_status(*service.reporter, kControlWaitHintMs);
  return false;
}

bool stops_foreground_run(std::uint32_t event) {
  return event == kConsoleCtrlC || event == kConsoleCtrlBreak || event == kConsoleClose;
}

ClaimedConsoleAnswer claimed_console_answer(std::uint32_t event, bool foreground) {
  if (foreground ? stops_foreground_run(event) : event == kConsoleShutdown) return ClaimedConsoleAnswer::RunModeStop;
  if (event == kConsoleLogoff || event == kConsoleShutdown) return ClaimedConsoleAnswer::Absorb;
  return ClaimedConsoleAnswer::PassOn;
}

void begin_control(ControlsInProgress& controls) {
  std::lock_guard<std::mutex> guard(controls.lock);
  ++controls.running;
}

void end_control(ControlsInProgress& controls) {
  std::lock_guard<std::mutex> guard(controls.lock);
  --controls.running;
  controls.idle.notify_all();
}

bool wait_until_controls_end(ControlsInProgress& controls, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> guard(controls.lock);
  return controls.idle.wait_for(guard, limit, [&] { return controls.running == 0; });
}
