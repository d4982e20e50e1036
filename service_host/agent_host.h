#pragma once

// The agent's life in this process. Win32 side.

#include <windows.h>

#include "agent_lifecycle.h"

// Waits for the loopback interface, creates the JVM, starts the agent's main
// on its own thread and returns when that thread has ended (or the start was
// given up). Reports start pending, running and stopped on the way.
void agent_run(int argc, char** argv);

// Asks the agent to clean up (its static cleanup on a thread of its own) and
// reports stop pending and stopped; gives cleanup up after kCleanupLimit.
// Safe at any moment and more than once: before the agent is launched it
// makes the start give up; cleanup runs at most once.
StopOutcome stop_sequence();

// Records that a stop has come, before anyone reports stop pending: from then
// on the start is given up instead of reporting running.
void note_stop_coming();

// The run mode's console handler. Once the JVM exists, the host's own console
// handler, newer than the JVM's, hands it the events that stop the agent: in
// the foreground Ctrl+C, Ctrl+Break and a closed console window; in service
// mode a system shutdown. Set once, before the agent run.
void answer_console_stops_with(PHANDLER_ROUTINE handler, bool foreground);
