// A stand-in for the system's ping.exe. The tests copy it over system32\ping.exe
// of their own Wine prefix (and put the real one back afterwards) to make the
// host's loopback probe fail or answer at once. ping_standin.cfg beside it:
//   status=<n>          its exit status (default 0: the local host answered)
//   once_marker=<path>  that status only while <path> does not exist; the run
//                       that returns it creates <path>, later runs answer
// Each run appends its command line to ping_runs.txt beside it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string own_folder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length < MAX_PATH ? length : 0);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int main() {
  const std::string folder = own_folder();
  if (std::FILE* runs = std::fopen((folder + "ping_runs.txt").c_str(), "a")) {
    std::fprintf(runs, "%s\n", GetCommandLineA());
    std::fclose(runs);
  }
  int status = 0;
  std::string onceMarker;
  if (std::FILE* config = std::fopen((folder + "ping_standin.cfg").c_str(), "r")) {
    char line[1024];
    while (std::fgets(line, sizeof line, config) != nullptr) {
      line[std::strcspn(line, "\r\n")] = '\0';
      if (std::strncmp(line, "status=", 7) == 0) status = std::atoi(line + 7);
      if (std::strncmp(line, "once_marker=", 12) == 0) onceMarker = line + 12;
    }
    std::fclose(config);
  }
  if (!onceMarker.empty()) {
    if (exists(onceMarker)) return 0;
    if (std::FILE* marker = std::fopen(onceMarker.c_str(), "w")) std::fclose(marker);
  }
  return status;
}
