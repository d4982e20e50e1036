#include "agent_lifecycle.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "failure_text.h"
#include "launch_record.h"
#include "status_reporter.h"

namespace {

using Clock = std::chrono::steady_clock;

bool stop_requested(AgentLifecycle& life) {
  std::lock_guard<std::mutex> guard(life.lock);
  return life.stopRequested;
}

// The start's reports go out under the lock: a stop records itself there
// before its stop-pending report, so none of them can follow that report.
void report_start_pending_unless_stopped(AgentLifecycle& life) {
  std::lock_guard<std::mutex> guard(life.lock);
  if (!life.stopRequested) life.hooks.report(kStateStartPending, 0, 0);
}

// The turning point: either a stop has come and the start is given up, or
// running is reported and the agent launched before any stop can look.
// From here on a stop calls cleanup.
bool launch_unless_stopped(AgentLifecycle& life) {
  std::lock_guard<std::mutex> guard(life.lock);
  if (life.stopRequested) return false;
  life.hooks.report(kStateRunning, 0, 10000);
  life.hooks.launchAgent();
  life.launched = true;
  return true;
}

// A start given up for a stop is the stop's doing; for anything else it is
// the service's failure, its cause already in the event log.
void give_up(AgentLifecycle& life) {
  if (stop_requested(life))
    life.hooks.report(kStateStopped, 0, 0);
  else
    life.hooks.reportFailed(kExitStartGivenUp);
  life.hooks.beep(kFailedToneHz, kFailedToneMs);
}

// Once a stop was asked for, the agent's end is the stop's, however main ended.
void report_agent_end(AgentLifecycle& life, AgentEnd end, bool stopped) {
  if (stopped || end == AgentEnd::Returned)
    life.hooks.report(kStateStopped, 0, 0);
  else
    life.hooks.reportFailed(end == AgentEnd::Threw ? kExitAgentThrew : kExitStartGivenUp);
}

// A second stop waits for the first one's cleanup, which that stop ends by
// the same limit, a little earlier.
void wait_while_cleanup_runs(AgentLifecycle& life, Clock::time_point deadline) {
  std::unique_lock<std::mutex> guard(life.lock);
  life.cleanupDone.wait_until(guard, deadline, [&] { return !life.cleanupRunning; });
}

// The agent's cleanup on a thread of its own: the thread that stops can then
// keep the SCM informed and give cleanup up. Once given up the thread is left
// in cleanup; the process ends around it.
void start_cleanup(AgentLifecycle& life) {
  const auto cleanup = [&life] {
    life.hooks.callCleanup();
    std::lock_guard<std::mutex> guard(life.lock);
    life.cleanupReturned = true;
    life.cleanupDone.notify_all();
  };
  try {
    std::thread(cleanup).detach();
  } catch (const std::system_error&) {
    cleanup();  // no thread to be had: on this one, without the limit
  }
}

// Waits for the cleanup this stop started, reporting stop pending again every
// progress interval. False when the deadline came first.
bool wait_for_cleanup(AgentLifecycle& life, Clock::time_point deadline) {
  const std::uint32_t waitHint = stop_progress_wait_hint(life.timing);
  std::unique_lock<std::mutex> guard(life.lock);
  for (;;) {
    const Clock::time_point nextReport = std::min(Clock::now() + life.timing.progressInterval, deadline);
    if (life.cleanupDone.wait_until(guard, nextReport, [&] { return life.cleanupReturned; })) return true;
    if (Clock::now() >= deadline) return false;
    guard.unlock();
    life.hooks.report(kStateStopPending, 0, waitHint);
    guard.lock();
  }
}

// The agent's main has returned. Waits for a cleanup that a stop is running
// (it made main return) and, in the same step, closes the door on any later
// stop's cleanup: a stop after this point finds the agent ended. Returns
// whether a stop had come before.
bool note_agent_ended(AgentLifecycle& life) {
  std::unique_lock<std::mutex> guard(life.lock);
  life.cleanupDone.wait(guard, [&] { return !life.cleanupRunning; });
  life.agentEnded = true;
  return life.stopRequested;
}

}  // namespace

bool probe_start_failure_lasts(std::uint32_t systemError) {
  switch (systemError) {
    case 2:     // ERROR_FILE_NOT_FOUND
    case 3:     // ERROR_PATH_NOT_FOUND
    case 5:     // ERROR_ACCESS_DENIED
    case 122:   // ERROR_INSUFFICIENT_BUFFER: a system folder longer than its buffer
    case 123:   // ERROR_INVALID_NAME
    case 193:   // ERROR_BAD_EXE_FORMAT
    case 206:   // ERROR_FILENAME_EXCED_RANGE
    case 216:   // ERROR_EXE_MACHINE_TYPE_MISMATCH
    case 1260:  // ERROR_ACCESS_DISABLED_BY_POLICY
      return true;
    default:
      return false;
  }
}

int run_loopback_probe(AgentLifecycle& life) {
  int pauses = 0;
  for (;;) {
    const int status = life.hooks.probeLoopback();
    if (status == kProbeNotStarted) return kProbeNotStarted;  // no use asking again
    if (status == 0 || pauses == kProbeRetries || stop_requested(life)) break;
    life.hooks.pause(kProbePauseMs);
    ++pauses;
    if (stop_requested(life)) break;
  }
  // Said as soon as it is known, long before the stopped report that may end
  // the process. A stop is no failure.
  if (pauses == kProbeRetries && !stop_requested(life))
    life.hooks.fail(probe_unanswered(kProbeRetries, kProbePauseMs).text);
  return pauses;
}

void run_agent(AgentLifecycle& life) {
  AgentHooks& hooks = life.hooks;
  const int pauses = run_loopback_probe(life);
  if (pauses == kProbeNotStarted) {
    give_up(life);
    return;
  }
  report_start_pending_unless_stopped(life);

  // A stop during the probe gives the start up before a JVM is made for nothing.
  const bool jvmCreated = !stop_requested(life) && hooks.createJvm();
  // The JVM has registered a console handler of its own, which would end the
  // process at Ctrl+C or a logoff without the agent's cleanup. Claimed outside
  // the lock: a console handler that runs the stop sequence needs it.
  if (jvmCreated) hooks.claimConsole();
  if (!jvmCreated || pauses == kProbeRetries || stop_requested(life)) {
    give_up(life);
    return;
  }

  hooks.beep(kStartedToneHz, kStartedToneMs);
  if (!launch_unless_stopped(life)) {
    give_up(life);
    return;
  }
  const AgentEnd end = hooks.waitForAgentEnd();
  // When a stop made the agent's main return, let its cleanup finish before
  // the stopped report lets the process end; the stop reports stopped first.
  report_agent_end(life, end, note_agent_ended(life));
}

void note_stop(AgentLifecycle& life) {
  std::lock_guard<std::mutex> guard(life.lock);
  life.stopRequested = true;
}

std::uint32_t stop_progress_wait_hint(const StopTiming& timing) {
  return static_cast<std::uint32_t>(2 * timing.progressInterval.count());
}

StopOutcome run_stop_sequence(AgentLifecycle& life) {
  AgentHooks& hooks = life.hooks;
  const Clock::time_point deadline = Clock::now() + life.timing.cleanupLimit;
  bool callCleanup = false;
  {
    std::lock_guard<std::mutex> guard(life.lock);
    life.stopRequested = true;
    if (life.launched && !life.agentEnded && !life.cleanupClaimed) {
      life.cleanupClaimed = true;
      life.cleanupRunning = true;
      callCleanup = true;
    }
  }
  hooks.report(kStateStopPending, 0, stop_progress_wait_hint(life.timing));
  hooks.wakePause();

  if (!callCleanup) {
    // A second stop reports stopped only once the first one's cleanup is done.
    wait_while_cleanup_runs(life, deadline);
    hooks.report(kStateStopped, 0, 0);
    return StopOutcome::Done;
  }
  start_cleanup(life);
  const bool returned = wait_for_cleanup(life, deadline);
  // Said before the stopped report, which may end the process. A stop asked
  // for still ends with exit code 0: the event says what happened.
  if (!returned) {
    const auto limit = std::chrono::ceil<std::chrono::seconds>(life.timing.cleanupLimit);
    hooks.fail(cleanup_given_up(kAgentClassName, static_cast<long>(limit.count())).text);
  }
  hooks.report(kStateStopped, 0, 0);
  std::lock_guard<std::mutex> guard(life.lock);
  life.cleanupRunning = false;
  life.cleanupDone.notify_all();
  return returned ? StopOutcome::Done : StopOutcome::CleanupGivenUp;
}
