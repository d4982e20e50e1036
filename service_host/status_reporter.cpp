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

// Passes a report's turn on when it goes out of scope, however the send and
// the error hook ended: a report that kept its turn would hold every later
// one, the stopped report included, for ever.
class TurnHolder {
 public:
  TurnHolder(StatusReporter& reporter, std::unique_lock<std::mutex>& guard) : reporter_(reporter), guard_(guard) {}
  TurnHolder(const TurnHolder&) = delete;
  TurnHolder& operator=(const TurnHolder&) = delete;
  ~TurnHolder() { pass(); }
  void pass() {
    if (passed_) return;
    if (!guard_.owns_lock()) guard_.lock();
    pass_turn(reporter_);
    passed_ = true;
  }

 private:
  StatusReporter& reporter_;
  std::unique_lock<std::mutex>& guard_;
  bool passed_ = false;
};

// A send that throws counts as a failed send: its exception must not cross
// the platform's callbacks (control and console handlers).
bool send_once(const StatusReporter& reporter, const ServiceStatusRecord& filled) {
  try {
    return reporter.send && reporter.send(filled);
  } catch (...) {
    return false;
  }
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
  TurnHolder holder(reporter, guard);
  if (stopped) holder.pass();
  guard.unlock();
  const bool sent = send_once(reporter, filled);
  if (!sent && reporter.errorHook) reporter.errorHook("SetServiceStatus");
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
