#include "status_reporter.h"

namespace {

bool fill_and_send(StatusReporter& reporter, std::uint32_t state, std::uint32_t win32ExitCode,
                   std::uint32_t waitHint) {
  ServiceStatusRecord& record = reporter.record;
  record.controlsAccepted = state == kStateStartPending ? 0 : kAcceptStopAndShutdown;
  record.currentState = state;
  record.win32ExitCode = win32ExitCode;
  record.waitHint = waitHint;
  if (state == kStateRunning || state == kStateStopped) {
    record.checkPoint = 0;
  } else {
    record.checkPoint = static_cast<std::uint32_t>(reporter.checkpointCounter);
    ++reporter.checkpointCounter;
  }
  const bool sent = reporter.send && reporter.send(record);
  if (!sent && reporter.errorHook) reporter.errorHook("SetServiceStatus");
  return sent;
}

}  // namespace

bool report_status(StatusReporter& reporter, std::uint32_t state, std::uint32_t win32ExitCode,
                   std::uint32_t waitHint) {
  std::lock_guard<std::mutex> guard(reporter.lock);
  if (reporter.debugMode) return true;
  return fill_and_send(reporter, state, win32ExitCode, waitHint);
}

bool report_current_status(StatusReporter& reporter, std::uint32_t waitHint) {
  std::lock_guard<std::mutex> guard(reporter.lock);
  if (reporter.debugMode) return true;
  return fill_and_send(reporter, reporter.record.currentState, 0, waitHint);
}

void set_fixed_status_fields(StatusReporter& reporter) {
  std::lock_guard<std::mutex> guard(reporter.lock);
  reporter.record.serviceType = kServiceWin32OwnProcess;
  reporter.record.serviceSpecificExitCode = 0;
}
