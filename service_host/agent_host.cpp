#include "agent_host.h"

#include <windows.h>

#include <cstdlib>
#include <memory>

#include "JvmServices.h"
#include "agent_jni.h"
#include "agent_lifecycle.h"
#include "service_status.h"
#include "win_handle.h"

namespace {

// The host lives until the process ends: its JVM is never destroyed.
JvmServices* g_host = nullptr;
// The agent thread and its launch record; released only after the thread has
// ended, so nothing can still use them.
HANDLE g_agentThread = nullptr;
std::unique_ptr<LaunchRecord> g_launchRecord;
// Set by a stop, so that a pause of the loopback probe ends at once.
KernelHandle g_stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));

BOOL WINAPI logoff_filter(DWORD event) {
  return event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT ? TRUE : FALSE;
}

AgentLifecycle& bind_hooks(AgentLifecycle& life) {
  AgentHooks& hooks = life.hooks;
  hooks.probeLoopback = [] { return std::system("ping localhost"); };
  hooks.pause = [](unsigned ms) { WaitForSingleObject(g_stopEvent.get(), ms); };
  hooks.wakePause = [] { SetEvent(g_stopEvent.get()); };
  hooks.report = report;
  hooks.createJvm = [] {
    g_host = new JvmServices();
    return g_host->createJvm() != 0;
  };
  hooks.beep = [](unsigned hz, unsigned ms) { Beep(hz, ms); };
  hooks.launchAgent = [] {
    g_launchRecord = std::make_unique<LaunchRecord>();
    g_launchRecord->className = kAgentClassName;
    g_launchRecord->host = g_host;
    g_agentThread = g_host->launch(g_launchRecord.get());
  };
  hooks.filterLogoff = [] { SetConsoleCtrlHandler(logoff_filter, TRUE); };
  hooks.waitForAgentEnd = [] {
    if (g_agentThread == nullptr) return;
    WaitForSingleObject(g_agentThread, INFINITE);
    CloseHandle(g_agentThread);
    g_agentThread = nullptr;
    g_launchRecord.reset();
  };
  hooks.callCleanup = [] { call_agent_cleanup(g_host->jvm(), kAgentClassName); };
  return life;
}

// Bound once, on first use, whichever thread comes first.
AgentLifecycle& lifecycle() {
  static AgentLifecycle life;
  static AgentLifecycle& bound = bind_hooks(life);
  return bound;
}

}  // namespace

void agent_run(int, char**) { run_agent(lifecycle()); }

void stop_sequence() { run_stop_sequence(lifecycle()); }

void note_stop_coming() { note_stop(lifecycle()); }
