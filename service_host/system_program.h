#pragma once

// Runs a program of the system folder by its full path, never through the
// command interpreter and never by a bare name, so that no program planted in
// the current folder or on the Path runs in its place. Win32 side.

#include <string>

// How a run went: started false when the program could not be started at all
// (error: the system's code; program: its full path, or its name alone when
// the system folder could not be read).
struct ProgramRun {
  bool started = false;
  unsigned long error = 0;
  int exitCode = -1;  // -1 also when the wait or the exit code failed
  std::wstring program;
};

// Runs <system folder>\<fileName> with commandLine (its first word the
// program's name, as the program sees it) on this process's console and
// standard handles, and waits for it to end; a run that has not ended after
// limitMs is ended (exitCode -1).
ProgramRun run_system_program(const wchar_t* fileName, const wchar_t* commandLine, unsigned limitMs);
