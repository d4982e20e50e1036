#include "status_reporter.h"

namespace {

// A report's exit codes; before a stop they are zero.
struct ExitCodes {
  std::uint32_t win32 = 0;
  std::uint32_t serviceSpecific = 0;
};

void fill(StatusReporter& reporter, std::uint32_t state, ExitCodes codes, std::uint32_t waitHint) {
  ServiceStatusRecord& record = reporter.record;
  record.controlsAccepted = state == kStateStartPending ? 0 : kAcceptStopAndShutdown;
  record.currentState = state;
  if (!reporter.stoppedFilled) {
    record.win32ExitCode = codes.win32;
    record.serviceSpecificExitCode = codes.serviceSpecific;
  }
  record.waitHint = waitHint;
  if (state == kStateRunning || state == kStateStopped) {
    record.checkPoint = 0;
  } else {
    record.checkPoint = static_cast<std::uint32_t>(reporter.checkpointCounter);
    ++reporter.checkpointCounter;
  }
}

void pass_turn(StatusReporter& reporter) {
  ++reporter.sendingTurn;
  reporter.turnPassed.notify_all();
}

// Sends the record and tells the error hook of a failure. Never throws: a
// throwing send counts as failed, and whatever the hook does, the report
// passes its turn on (a kept turn would hold every later report, the stopped
// one included, for ever) and no exception crosses the platform's callbacks.
bool send_once(const StatusReporter& reporter, const ServiceStatusRecord& filled) {
  bool sent = false;
  try {
    sent = reporter.send && reporter.send(filled);
  } catch (...) {
  }
  try {
    if (!sent && reporter.errorHook) reporter.errorHook("SetServiceStatus");
  } catch (...) {
  }
  return sent;
}

// Fills under the lock, waits for this report's turn, sends without the lock.
bool fill_and_send(StatusReporter& reporter, std::unique_lock<std::mutex>& guard, std::uint32_t state,
                   ExitCodes codes, std::uint32_t waitHint) {
  fill(reporter, state, codes, waitHint);
  const ServiceStatusRecord filled = reporter.record;
  const bool stopped = state == kStateStopped;
  reporter.stoppedFilled = reporter.stoppedFilled || stopped;
  const std::uint64_t turn = reporter.nextTurn++;
  reporter.turnPassed.wait(guard, [&] { return reporter.sendingTurn == turn; });
  if (stopped) pass_turn(reporter);
  guard.unlock();
  const bool sent = send_once(reporter, filled);
  if (!stopped) {
    guard.lock();
    pass_turn(reporter);
  }
  return sent;
}

}  // namespace

bool report_status(StatusReporter& reporter, std::uint32_t state, std::uint32_t win32ExitCode,
                   std::uint32_t waitHint) {
  std::unique_lock<std::mutex> guard(reporter.lock);
  if (reporter.debugMode) return true;
  if (reporter.stoppedFilled && state != kStateStopped) return true;
  return fill_and_send(reporter, guard, state, ExitCodes{win32ExitCode, 0}, waitHint);
}

bool report_failed(StatusReporter& reporter, std::uint32_t serviceSpecificExitCode) {
  std::unique_lock<std::mutex> guard(reporter.lock);
  if (reporter.debugMode) return true;
  return fill_and_send(reporter, guard, kStateStopped, ExitCodes{kErrorServiceSpecificError, serviceSpecificExitCode},
                       0);
}

bool report_current_status(StatusReporter& reporter, std::uint32_t waitHint) {
  std::unique_lock<std::mutex> guard(reporter.lock);
  if (reporter.debugMode) return true;
  return fill_and_send(reporter, guard, reporter.record.currentState, ExitCodes{}, waitHint);
}

void set_fixed_status_fields(StatusReporter& reporter) {
  std::lock_guard<std::mutex> guard(reporter.lock);
  reporter.record.serviceType = kServiceWin32OwnProcess;
  reporter.record.serviceSpecificExitCode = 0;
}
