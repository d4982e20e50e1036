// A DLL planted, under the name looked for, where the host must not load it
// from: when loaded, it leaves planted_<its name>_ran.txt beside itself.

#include <windows.h>

#include <cstring>
#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (reason != DLL_PROCESS_ATTACH || length == 0 || length >= MAX_PATH) return TRUE;
  const std::string file(path, length);
  const std::size_t nameStart = file.rfind('\\') + 1;
  const std::string name = file.substr(nameStart, file.rfind('.') - nameStart);
  const std::string marker = file.substr(0, nameStart) + "planted_" + name + "_ran.txt";
  HANDLE created = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (created != INVALID_HANDLE_VALUE) CloseHandle(created);
  return TRUE;
}
