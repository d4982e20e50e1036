#include "agent_lifecycle.h"

#include "failure_text.h"
#include "status_reporter.h"

namespace {

bool stop_requested(AgentLifecycle& life) {
  std::lock_guard<std::mutex> guard(life.lock);
  return life.stopRequested;
}

// Called once the JVM exists (or its creation failed): decides, under the
// lock, whether the agent may be launched. From here on a stop calls cleanup.
bool claim_launch(AgentLifecycle& life, bool jvmCreated, int pauses) {
  std::lock_guard<std::mutex> guard(life.lock);
  if (!jvmCreated || pauses == kProbeRetries || life.stopRequested) return false;
  life.jvmReady = true;
  return true;
}

void wait_while_cleanup_runs(AgentLifecycle& life) {
  std::unique_lock<std::mutex> guard(life.lock);
  life.cleanupDone.wait(guard, [&] { return !life.cleanupRunning; });
}

}  // namespace

int run_loopback_probe(AgentLifecycle& life) {
  int pauses = 0;
  while (life.hooks.probeLoopback() != 0 && pauses < kProbeRetries && !stop_requested(life)) {
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
  hooks.report(kStateStartPending, 0, 0);

  // A stop during the probe gives the start up before a JVM is made for nothing.
  const bool jvmCreated = !stop_requested(life) && hooks.createJvm();
  if (!claim_launch(life, jvmCreated, pauses)) {
    hooks.report(kStateStopped, 0, 0);
    hooks.beep(kFailedToneHz, kFailedToneMs);
    return;
  }

  hooks.beep(kStartedToneHz, kStartedToneMs);
  hooks.report(kStateRunning, 0, 10000);
  hooks.launchAgent();
  hooks.filterLogoff();
  hooks.waitForAgentEnd();
  // When a stop made the agent's main return, let its cleanup finish before
  // the stopped report lets the process end.
  wait_while_cleanup_runs(life);
  hooks.report(kStateStopped, 0, 0);
}

void run_stop_sequence(AgentLifecycle& life) {
  AgentHooks& hooks = life.hooks;
  hooks.report(kStateStopPending, 0, 0);

  bool callCleanup = false;
  {
    std::lock_guard<std::mutex> guard(life.lock);
    if (!life.jvmReady) {
      life.stopRequested = true;
    } else if (!life.cleanupClaimed) {
      life.cleanupClaimed = true;
      life.cleanupRunning = true;
      callCleanup = true;
    }
  }
  hooks.wakePause();

  if (callCleanup) {
    hooks.callCleanup();
    std::lock_guard<std::mutex> guard(life.lock);
    life.cleanupRunning = false;
    life.cleanupDone.notify_all();
  }
  // A second stop reports stopped only once the first one's cleanup is done.
  wait_while_cleanup_runs(life);
  hooks.report(kStateStopped, 0, 0);
}
