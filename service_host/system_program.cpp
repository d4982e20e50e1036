#include "system_program.h"

#include <windows.h>

#include "win_handle.h"

ProgramRun run_system_program(const wchar_t* fileName, const wchar_t* commandLine, unsigned limitMs) {
  ProgramRun run;
  run.program = fileName;
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    run.error = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    return run;
  }
  run.program = std::wstring(folder, length) + L"\\" + fileName;
  std::wstring line = commandLine;  // CreateProcessW may write into it

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  // Handles inherited, as the command interpreter would: the program's output
  // goes where this process's goes.
  if (!CreateProcessW(run.program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &started)) {
    run.error = GetLastError();
    return run;
  }
  run.started = true;
  KernelHandle process(started.hProcess);
  KernelHandle thread(started.hThread);
  DWORD status = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.get(), limitMs) != WAIT_OBJECT_0) {
    // A hung run would hold the start (and a stop that waits for it) for ever.
    TerminateProcess(process.get(), static_cast<UINT>(-1));
    WaitForSingleObject(process.get(), 5000);
    return run;
  }
  if (!GetExitCodeProcess(process.get(), &status)) return run;
  run.exitCode = static_cast<int>(status);
  return run;
}
