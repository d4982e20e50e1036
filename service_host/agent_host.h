#pragma once

// The agent's life in this process. Win32 side.

#include <windows.h>

// Waits for the loopback interface, creates the JVM, starts the agent's main
// on its own thread and returns when that thread has ended (or the start was
// given up). Reports start pending, running and stopped on the way.
void agent_run(int argc, char** argv);

// Asks the agent to clean up (its static cleanup on the calling thread) and
// reports stop pending and stopped. Safe at any moment and more than once:
// before the agent is launched it makes the start give up; cleanup runs at most once.
void stop_sequence();

// Records that a stop has come, before anyone reports stop pending: from then
// on the start is given up instead of reporting running.
void note_stop_coming();

// The foreground run's answer to Ctrl+C and Ctrl+Break. Once the JVM exists,
// the host's own console handler, newer than the JVM's, hands those two events
// to it; without it (service mode) they pass on.
void answer_interrupts_with(PHANDLER_ROUTINE handler);
