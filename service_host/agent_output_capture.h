#pragma once

// The agent's output in service mode. Win32 side of agent_output.h.

#include <string>

// The program's log folder, "<folder of Ostrad.exe>\logs".
std::string program_log_folder();

// From now on the process's standard output and error (the C runtime's and
// the system's, which the JVM and the agent's System.out and System.err use)
// go through a pipe that a thread of the host drains into
// logs\agent-output.log; the folder is made when missing, open only to
// Administrators and SYSTEM. Writes the start line first. Call once, before
// the JVM is created. What cannot be set up is said in one event, and the
// output then goes where it went before.
void capture_agent_output();

// Waits, at most 2 s, until what was written to the captured output so far
// has reached the file: called before the process ends. Returns at once when
// the output is not captured.
void finish_agent_output();
