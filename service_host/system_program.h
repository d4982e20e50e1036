#pragma once

// Runs a program of the system folder by its full path, never through the
// command interpreter and never by a bare name, so that no program planted in
// the current folder or on the Path runs in its place. Win32 side.

// Runs <system folder>\<fileName> with commandLine (its first word the
// program's name, as the program sees it) on this process's console and
// standard handles, and waits for it to end. Returns its exit code, or -1
// when it cannot be started.
int run_system_program(const wchar_t* fileName, const wchar_t* commandLine);
