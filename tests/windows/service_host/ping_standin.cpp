// Stand-in for system32\ping.exe in a test's Wine prefix. ping_standin.cfg
// beside it: "status=<n>" (exit status, default 0: answered), then
// "once_marker=<path>" (that status only while <path> is missing; the run
// creates it). Each run appends its command line to ping_runs.txt beside it.

#include <windows.h>

#include <cstdio>
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
  char marker[MAX_PATH] = "";
  if (std::FILE* config = std::fopen((folder + "ping_standin.cfg").c_str(), "r")) {
    if (std::fscanf(config, "status=%d\nonce_marker=%259[^\r\n]", &status, marker) < 1) status = 0;
    std::fclose(config);
  }
  if (marker[0] == '\0') return status;
  if (GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES) return 0;
  if (std::FILE* created = std::fopen(marker, "w")) std::fclose(created);
  return status;
}
