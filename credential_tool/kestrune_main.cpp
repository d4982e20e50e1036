// Kestrune: changes the user name and password in config\server.properties
// and restarts the web server and agent services. Runs in the product folder.
// This file binds the portable run to the C runtime and the console: the
// files are used in text mode, commands run through the wide _wsystem(), and
// ReplaceFileW puts the new configuration in place.
#include <windows.h>

#include <aclapi.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <string>

#include "credential_update.h"
#include "interpreter_path.h"

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

std::string last_error_reason(DWORD code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = system_reason(text, code);
  if (text != nullptr) {
    LocalFree(text);
  }
  return reason;
}

bool is_file(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// _wsystem runs %COMSPEC%, or without it a cmd.exe that it looks for in the
// current folder first; cmd.exe looks for `net` there first unless
// NoDefaultCurrentDirectoryInExePath exists. Both are set through the C
// runtime, whose copy of the environment is the one the commands get.
bool prepare_commands(std::string& reason) {
  if (_wputenv(L"NoDefaultCurrentDirectoryInExePath=1") != 0) {
    reason = "the C runtime could not set NoDefaultCurrentDirectoryInExePath";
    return false;
  }
  wchar_t comspec[MAX_PATH];
  const DWORD comspec_length = GetEnvironmentVariableW(L"COMSPEC", comspec, MAX_PATH);
  if (comspec_length > 0 && comspec_length < MAX_PATH && is_fully_qualified(comspec) && is_file(comspec)) {
    return true;
  }
  wchar_t system_folder[MAX_PATH];
  const UINT folder_length = GetSystemDirectoryW(system_folder, MAX_PATH);
  if (folder_length == 0 || folder_length >= MAX_PATH) {
    reason = "the system folder: " + last_error_reason(GetLastError());
    return false;
  }
  const std::wstring setting = L"COMSPEC=" + std::wstring(system_folder, folder_length) + L"\\cmd.exe";
  if (_wputenv(setting.c_str()) != 0) {
    reason = "the C runtime could not set COMSPEC";
    return false;
  }
  return true;
}

// CREATE_NEW never opens a file that someone put there (a link to another
// file included); no sharing keeps everyone else out while it is written.
std::FILE* create_file_like(const char* path, const char* like) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;  // LocalFree'd below
  PACL access_list = nullptr;                 // inside descriptor
  if (GetNamedSecurityInfoW(wide_path(like).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &access_list, nullptr, &descriptor) != ERROR_SUCCESS) {
    descriptor = nullptr;  // the folder's inherited permissions, as for any new file
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  const HANDLE handle = CreateFileW(wide_path(path).c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (descriptor != nullptr) {
    LocalFree(descriptor);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  const int file_number = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_TEXT);
  if (file_number == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(file_number, "w");  // text mode: CR LF line ends
  if (file == nullptr) {
    _close(file_number);  // closes the handle too
  }
  return file;
}

CredentialPlatform c_runtime_platform() {
  CredentialPlatform platform;
  platform.prepare_commands = prepare_commands;
  platform.run_command = [](const std::wstring& command) {
    std::fflush(stdout);  // keep our messages in order with the command's output
    return _wsystem(command.c_str());
  };
  platform.open_file = [](const char* path, const char* mode) { return std::fopen(path, mode); };
  platform.create_file_like = create_file_like;
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
  platform.replace_file = [](const char* replaced, const char* replacement, const char* backup,
                             std::string& reason) -> unsigned long {
    if (ReplaceFileW(wide_path(replaced).c_str(), wide_path(replacement).c_str(), wide_path(backup).c_str(), 0,
                     nullptr, nullptr)) {
      return 0;
    }
    const DWORD code = GetLastError();
    reason = last_error_reason(code);
    return code != 0 ? code : ERROR_GEN_FAILURE;  // never taken for a success
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
