#include "agent_output_capture.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "agent_output.h"
#include "failure_text.h"
#include "service_status.h"
#include "system_message.h"

namespace {

constexpr DWORD kPipeSize = 64 * 1024;
constexpr DWORD kChunkSize = 64 * 1024;
// Only Administrators and SYSTEM, inherited by the files inside: the agent's
// output may hold secrets.
constexpr char kLogFolderAccess[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Made once, never destroyed: the drain thread runs until the process ends.
HANDLE g_pipeRead = nullptr;
AgentOutputLog* g_log = nullptr;
// Set by the drain thread while it has read bytes that are not yet in the file.
std::atomic<bool> g_draining{false};

void say_dropped(const std::string& path, const char* why) { error_hook(agent_output_dropped(path, why).text); }

void say_not_captured(const char* what, DWORD code) {
  const SystemMessage message(code);
  std::string why = std::string(what) + " - " + (message.text() != nullptr ? message.text() : "");
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();  // the system's line end
  error_hook(agent_output_dropped(agent_output_file(program_log_folder(), 0), why.c_str()).text);
}

// A folder that exists already keeps its access list: it was made by an
// administrator, or by an earlier start.
void make_log_folder(const std::string& folder) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kLogFolderAccess, SDDL_REVISION_1,
                                                            &attributes.lpSecurityDescriptor, nullptr))
    return;  // no folder without its access list; the log then says it cannot write
  CreateDirectoryA(folder.c_str(), &attributes);
  LocalFree(attributes.lpSecurityDescriptor);
}

DWORD WINAPI drain_output(LPVOID) {
  static char chunk[kChunkSize];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(g_pipeRead, chunk, sizeof chunk, &read, nullptr)) return 0;
    g_draining = true;
    g_log->write(chunk, read);
    g_draining = false;
  }
}

std::string start_line() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::tm local{};
  local.tm_year = now.wYear - 1900;
  local.tm_mon = now.wMonth - 1;
  local.tm_mday = now.wDay;
  local.tm_hour = now.wHour;
  local.tm_min = now.wMinute;
  local.tm_sec = now.wSecond;
  return agent_output_start_line(local, GetCurrentProcessId());
}

// Points the C runtime's descriptors 1 and 2 at the pipe too (each gets a
// handle of its own), so that the host's own printf and fprintf(stderr) land
// in the file beside the agent's output.
void redirect_runtime_output(HANDLE pipeWrite) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), pipeWrite, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_WRONLY | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(copy);
    return;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  _dup2(descriptor, 1);
  _dup2(descriptor, 2);
  _close(descriptor);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

}  // namespace

std::string program_log_folder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return log_folder_of(length != 0 && length < sizeof path ? std::string(path, length) : std::string());
}

void capture_agent_output() {
  const std::string folder = program_log_folder();
  make_log_folder(folder);
  g_log = new AgentOutputLog(folder, kAgentOutputFileLimit, say_dropped);
  const std::string line = start_line();
  g_log->write(line.data(), line.size());

  // The write end is inherited: programs the host starts write where it does.
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE pipeWrite = nullptr;
  if (!CreatePipe(&g_pipeRead, &pipeWrite, &inherited, kPipeSize)) {
    say_not_captured("no pipe for the output", GetLastError());
    return;
  }
  SetHandleInformation(g_pipeRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE thread = CreateThread(nullptr, 0, drain_output, nullptr, 0, nullptr);
  if (thread == nullptr) {
    // Nobody would read: a writer would wait for ever on a full pipe.
    say_not_captured("no thread for the output", GetLastError());
    CloseHandle(pipeWrite);
    CloseHandle(g_pipeRead);
    g_pipeRead = nullptr;
    return;
  }
  CloseHandle(thread);
  redirect_runtime_output(pipeWrite);
  SetStdHandle(STD_OUTPUT_HANDLE, pipeWrite);
  SetStdHandle(STD_ERROR_HANDLE, pipeWrite);
}

void finish_agent_output() {
  constexpr unsigned maxMs = 2000;  // the bound of the last words before the process ends
  if (g_pipeRead == nullptr) return;
  std::fflush(stdout);
  std::fflush(stderr);
  // Empty twice in a row: a chunk the drain thread has just taken is then in the file.
  int emptyChecks = 0;
  for (unsigned waited = 0; waited <= maxMs && emptyChecks < 2; waited += 10) {
    DWORD waiting = 0;
    const bool empty = PeekNamedPipe(g_pipeRead, nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0;
    emptyChecks = empty && !g_draining ? emptyChecks + 1 : 0;
    if (emptyChecks < 2) Sleep(10);
  }
}
