// Kestrune: changes the user name and password in config\server.properties
// and restarts the web server and agent services. Runs in the product folder.
// This file binds the portable run to the C runtime and the console: the
// files are opened in text mode ("r", "w"), commands run through the wide
// _wsystem(), and ReplaceFileW puts the new configuration in place.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <io.h>
#include <string>

#include "credential_update.h"

namespace {

// A handler routine rather than SetConsoleCtrlHandler(NULL, TRUE): that flag
// is inherited by the commands run and leaves Ctrl+Break in effect, while a
// handler covers both events in this process only, so a hanging net command
// can still be interrupted and the next one runs.
BOOL WINAPI ignore_interrupt(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

// The tool's own file names, which are ASCII.
std::wstring wide_path(const char* path) {
  return std::wstring(path, path + std::strlen(path));
}

CredentialPlatform c_runtime_platform() {
  CredentialPlatform platform;
  platform.run_command = [](const std::wstring& command) {
    std::fflush(stdout);  // keep our messages in order with the command's output
    return _wsystem(command.c_str());
  };
  platform.open_file = [](const char* path, const char* mode) { return std::fopen(path, mode); };
  platform.commit_file = [](std::FILE* file) {
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0 ? 0 : -1;
  };
  platform.remove_file = [](const char* path) {
    errno = 0;
    if (std::remove(path) == 0) {
      return 0;
    }
    return errno != 0 ? errno : EIO;
  };
  platform.replace_file = [](const char* replaced, const char* replacement, std::string& reason) {
    if (ReplaceFileW(wide_path(replaced).c_str(), wide_path(replacement).c_str(), nullptr, 0, nullptr, nullptr)) {
      return true;
    }
    const DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    reason = system_reason(text, code);
    if (text != nullptr) {
      LocalFree(text);
    }
    return false;
  };
  platform.ignore_interrupts = [](bool ignore) { SetConsoleCtrlHandler(ignore_interrupt, ignore ? TRUE : FALSE); };
  platform.print = [](const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
  };
  platform.print_wide = [](const wchar_t* text) { std::fputws(text, stdout); };
  return platform;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  run_credential_tool(argc, argv, c_runtime_platform());
  std::fflush(stdout);
  return 0;  // always 0, whatever happened
}
