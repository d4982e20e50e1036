// Stand-in for system32\ping.exe in a test's Wine prefix. ping_standin.cfg
// beside it: "status=<n>" (exit status, default 0: answered) and
// "once_marker=<path>" (that status only while <path> is missing; the run
// creates it). Each run appends its command line to ping_runs.txt beside it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length < MAX_PATH ? length : 0);
  folder.erase(folder.find_last_of('\\') + 1);
  if (std::FILE* runs = std::fopen((folder + "ping_runs.txt").c_str(), "a")) {
    std::fprintf(runs, "%s\n", GetCommandLineA());
    std::fclose(runs);
  }
  int status = 0;
  char line[1024];
  std::string marker;
  if (std::FILE* config = std::fopen((folder + "ping_standin.cfg").c_str(), "r")) {
    while (std::fgets(line, sizeof line, config) != nullptr) {
      line[std::strcspn(line, "\r\n")] = '\0';
      if (std::strncmp(line, "status=", 7) == 0) status = std::atoi(line + 7);
      if (std::strncmp(line, "once_marker=", 12) == 0) marker = line + 12;
    }
    std::fclose(config);
  }
  if (marker.empty()) return status;
  if (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
  if (std::FILE* created = std::fopen(marker.c_str(), "w")) std::fclose(created);
  return status;
}
