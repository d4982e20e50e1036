#pragma once

// The agent's life, independent of the platform: the loopback probe, the
// start (JVM, launch, wait) and the stop sequence. The platform operations
// come in as hooks, so the rules here can be tested without Windows or a JVM.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "agent_end.h"

constexpr int kProbeRetries = 30;            // pauses before the start is given up
constexpr unsigned kProbePauseMs = 10000;
constexpr int kProbeNotStarted = -1;         // no ping to ask: the start is given up at once
constexpr unsigned kProbeRunLimitMs = 60000;  // one ping run (about 4 s) ended after this

// Whether a ping that could not be started (the system's error code) will not
// start on a later try either: a missing, inaccessible or foreign program.
// Anything else (short of resources, a passing fault) counts as one try
// without an answer, so that the probe tries again after its pause.
bool probe_start_failure_lasts(std::uint32_t systemError);
constexpr unsigned kStartedToneHz = 5000, kStartedToneMs = 125;
constexpr unsigned kFailedToneHz = 2000, kFailedToneMs = 500;

// How long a stop waits for the agent's cleanup. A cleanup that has not
// returned by then is given up: the service reports stopped and the process
// ends without it (a sound cleanup takes seconds; one that never returns
// would hold the service, and a system shutdown, for ever).
constexpr std::chrono::seconds kCleanupLimit(90);
// While cleanup runs, stop pending is reported again this often.
constexpr std::chrono::seconds kStopProgressInterval(5);

struct StopTiming {
  std::chrono::milliseconds cleanupLimit = kCleanupLimit;
  std::chrono::milliseconds progressInterval = kStopProgressInterval;
};

// The wait hint of a stop's pending reports: it covers the next re-report.
std::uint32_t stop_progress_wait_hint(const StopTiming& timing);

// How a failed service says why it stopped: its service-specific exit code,
// sent with ERROR_SERVICE_SPECIFIC_ERROR. A stop that was asked for, and a
// main that returned, end with exit code 0.
constexpr std::uint32_t kExitStartGivenUp = 1;  // the event log says why
constexpr std::uint32_t kExitAgentThrew = 2;    // an uncaught exception ended the agent's main
constexpr std::uint32_t kExitAgentExited = 3;   // the agent ended the process with a nonzero status
constexpr std::uint32_t kExitJvmAborted = 4;    // the JVM aborted (a fatal error; see its crash report)

struct AgentHooks {
  // Runs "ping localhost": 0 when it answered, kProbeNotStarted when ping
  // could not be started at all (the hook has said why), else no answer.
  std::function<int()> probeLoopback;
  std::function<void(unsigned ms)> pause;        // may end early once wakePause was called
  std::function<void()> wakePause;
  std::function<bool(std::uint32_t state, std::uint32_t exitCode, std::uint32_t waitHint)> report;
  // Reports stopped with ERROR_SERVICE_SPECIFIC_ERROR and the service's own code.
  std::function<bool(std::uint32_t serviceSpecificExitCode)> reportFailed;
  std::function<bool()> createJvm;               // makes the host object and its JVM
  std::function<void(unsigned hz, unsigned ms)> beep;
  std::function<void()> launchAgent;             // starts the agent thread (may fail: no thread)
  // Puts the host's console handler in front of the one the JVM registered
  // while it was created, so that the host, not the JVM, answers console events.
  std::function<void()> claimConsole;
  // Returns when the agent thread has ended, saying how (NotStarted when
  // there is no thread).
  std::function<AgentEnd()> waitForAgentEnd;
  // The agent's static cleanup, on the calling thread (the stop runs it on a
  // thread of its own, which it leaves behind when cleanup never returns).
  std::function<void()> callCleanup;
  std::function<void(const char* text)> fail;    // the error hook
};

// Where the start stands, as far as a stop needs to know. The launch is the
// turning point, taken under the lock together with the running report: a
// stop before it makes the start give up; after it, the first stop calls
// cleanup and every later one leaves it alone. Once the agent has ended, no
// stop calls cleanup: there is no agent left to clean up after.
struct AgentLifecycle {
  AgentHooks hooks;
  StopTiming timing;
  std::mutex lock;
  std::condition_variable cleanupDone;
  bool stopRequested = false;
  bool launched = false;
  bool cleanupClaimed = false;
  bool agentEnded = false;      // the agent's main has returned and no cleanup runs
  bool cleanupRunning = false;  // until the stop that calls cleanup has reported stopped
  bool cleanupReturned = false;  // set by the cleanup's own thread
};

// Runs the probe until it answers or kProbeRetries pauses have passed (or a
// stop was requested). Returns the number of pauses taken: kProbeRetries
// means the start must be given up, whatever the last run said; the probe
// then hands its text to the fail hook (unless a stop ended it).
// kProbeNotStarted: ping could not be started, and the start is given up at once.
int run_loopback_probe(AgentLifecycle& life);

void run_agent(AgentLifecycle& life);

// Reports stop pending and, once the agent was launched, runs its cleanup on
// a thread of its own, re-reporting stop pending every progress interval
// while it runs; reports stopped when it has returned, or once the cleanup
// limit has passed since the stop began (then it writes why through the fail
// hook). A stop while another one's cleanup runs waits for that one, as long
// as the limit allows. Returns at the latest after the limit.
enum class StopOutcome { Done, CleanupGivenUp };
StopOutcome run_stop_sequence(AgentLifecycle& life);

// Records that a stop has come. Whoever sends a stop-pending report calls it
// first: from then on the run sends no start-pending or running report and
// launches nothing, unless the agent was already launched.
void note_stop(AgentLifecycle& life);
