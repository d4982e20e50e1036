#include "agent_host.h"

#include <windows.h>

#include <cstdint>

#include "JvmServices.h"
#include "agent_jni.h"
#include "agent_lifecycle.h"
#include "failure_text.h"
#include "jvm_end_hooks.h"
#include "service_control_logic.h"
#include "service_status.h"
#include "system_message.h"
#include "system_program.h"
#include "wide_text.h"

namespace {

// The process-wide state below is made once and never destroyed. The process
// ends (exit in debug mode, the return from main in service mode) while the
// agent thread, a control handler or a console handler may still be inside it;
// no destructor may take it away from under them. The process owns what is
// left, and ending it releases everything.

// The host lives until the process ends: its JVM is never destroyed.
JvmServices* g_host = nullptr;
// The agent thread and its launch record, made at the one launch.
HANDLE g_agentThread = nullptr;
LaunchRecord* g_launchRecord = nullptr;
// Set by a stop, so that a pause of the loopback probe ends at once.
const HANDLE g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

// Set once by the run mode, before the agent run starts.
PHANDLER_ROUTINE g_runModeHandler = nullptr;
bool g_foreground = false;

// Registered once the JVM exists, after the JVM's own handler, so asked first.
BOOL WINAPI claimed_console_handler(DWORD event) {
  switch (claimed_console_answer(event, g_foreground)) {
    case ClaimedConsoleAnswer::RunModeStop:
      return g_runModeHandler != nullptr ? g_runModeHandler(event) : TRUE;
    case ClaimedConsoleAnswer::Absorb:
      return TRUE;
    case ClaimedConsoleAnswer::PassOn:
      break;
  }
  return FALSE;
}

// "ping localhost" by the system's own ping. A ping that cannot be started
// for a lasting cause will not start on a later try: that ends the start at
// once, with its cause; a passing fault is one more try without an answer.
int probe_loopback() {
  const ProgramRun run = run_system_program(L"PING.EXE", L"ping localhost", kProbeRunLimitMs);
  if (run.started) return run.exitCode == 0 ? 0 : 1;
  if (!probe_start_failure_lasts(run.error)) return 1;
  const std::string program = ansi_from_wide(run.program.c_str());
  error_hook(probe_not_started(program, SystemMessage(run.error).text(), run.error).text);
  return kProbeNotStarted;
}

AgentLifecycle& bind_hooks(AgentLifecycle& life) {
  AgentHooks& hooks = life.hooks;
  hooks.probeLoopback = probe_loopback;
  hooks.pause = [](unsigned ms) { WaitForSingleObject(g_stopEvent, ms); };
  hooks.wakePause = [] { SetEvent(g_stopEvent); };
  hooks.report = report;
  hooks.reportFailed = report_failure;
  hooks.createJvm = [] {
    g_host = new JvmServices();
    return g_host->createJvm() != 0;
  };
  hooks.beep = [](unsigned hz, unsigned ms) { Beep(hz, ms); };
  hooks.launchAgent = [] {
    g_launchRecord = new LaunchRecord();
    g_launchRecord->className = kAgentClassName;
    g_launchRecord->host = g_host;
    g_agentThread = g_host->launch(g_launchRecord);
  };
  hooks.claimConsole = [] { SetConsoleCtrlHandler(claimed_console_handler, TRUE); };
  hooks.waitForAgentEnd = [] {
    if (g_agentThread == nullptr) return AgentEnd::NotStarted;
    WaitForSingleObject(g_agentThread, INFINITE);
    // The thread's exit code says how main ended (agent_end.h).
    DWORD exitCode = kAgentMainReturned;
    GetExitCodeThread(g_agentThread, &exitCode);
    CloseHandle(g_agentThread);
    g_agentThread = nullptr;
    return agent_end_of(static_cast<std::int32_t>(exitCode));
  };
  hooks.callCleanup = [] { call_agent_cleanup(g_host->jvm(), kAgentClassName, agent_error_hook); };
  hooks.fail = error_hook;
  return life;
}

// Bound once, on first use, whichever thread comes first; never destroyed.
AgentLifecycle& lifecycle() {
  static AgentLifecycle& life = bind_hooks(*new AgentLifecycle);
  return life;
}

}  // namespace

void agent_run(int, char**) { run_agent(lifecycle()); }

void answer_console_stops_with(PHANDLER_ROUTINE handler, bool foreground) {
  g_runModeHandler = handler;
  g_foreground = foreground;
}

StopOutcome stop_sequence() {
  note_stop_asked();
  return run_stop_sequence(lifecycle());
}

void note_stop_coming() {
  note_stop_asked();
  note_stop(lifecycle());
}
