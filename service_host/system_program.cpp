#include "system_program.h"

#include <windows.h>

#include <string>

#include "win_handle.h"

int run_system_program(const wchar_t* fileName, const wchar_t* commandLine) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return -1;
  const std::wstring path = std::wstring(folder, length) + L"\\" + fileName;
  std::wstring line = commandLine;  // CreateProcessW may write into it

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  // Handles inherited, as the command interpreter would: the program's output
  // goes where this process's goes.
  if (!CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
    return -1;
  KernelHandle process(started.hProcess);
  KernelHandle thread(started.hThread);
  DWORD status = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.get(), &status))
    return -1;
  return static_cast<int>(status);
}
