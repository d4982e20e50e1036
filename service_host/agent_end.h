#pragma once

// How the agent's main ended. The agent thread's exit code carries it from the
// JNI code, which knows, to the agent run, which waits for that thread.
enum class AgentEnd { Returned, Threw, NotStarted };

// The agent thread's exit codes. A failed attach ends the thread with the
// attach result instead, which is negative.
constexpr int kAgentMainReturned = 0;
constexpr int kAgentMainThrew = 1;     // an uncaught exception ended main
constexpr int kAgentMainNotCalled = 2;  // the class or its main was not found

inline AgentEnd agent_end_of(long threadExitCode) {
  if (threadExitCode == kAgentMainReturned) return AgentEnd::Returned;
  if (threadExitCode == kAgentMainThrew) return AgentEnd::Threw;
  return AgentEnd::NotStarted;
}
