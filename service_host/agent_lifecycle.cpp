#include "agent_lifecycle.h"

#include "failure_text.h"
#include "status_reporter.h"

namespace {

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

void wait_while_cleanup_runs(AgentLifecycle& life) {
  std::unique_lock<std::mutex> guard(life.lock);
  life.cleanupDone.wait(guard, [&] { return !life.cleanupRunning; });
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

void run_stop_sequence(AgentLifecycle& life) {
  AgentHooks& hooks = life.hooks;
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
  hooks.report(kStateStopPending, 0, 0);
  hooks.wakePause();

  if (callCleanup) {
    hooks.callCleanup();
    hooks.report(kStateStopped, 0, 0);
    std::lock_guard<std::mutex> guard(life.lock);
    life.cleanupRunning = false;
    life.cleanupDone.notify_all();
    return;
  }
  // A second stop reports stopped only once the first one's cleanup is done.
  wait_while_cleanup_runs(life);
  hooks.report(kStateStopped, 0, 0);
}
