// A program that only records that it ran: it appends its command line to
// "<its own path>.ran" and ends with 0. Copied under the name of a program
// that must never run (cmd.exe in a product folder), it shows whether it did.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return 1;
  }
  if (std::FILE* record = std::fopen((std::string(path, length) + ".ran").c_str(), "a")) {
    std::fprintf(record, "%s\n", GetCommandLineA());
    std::fclose(record);
  }
  return 0;
}
