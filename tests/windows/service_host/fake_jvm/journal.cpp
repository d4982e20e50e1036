#include "journal.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

SRWLOCK journalLock = SRWLOCK_INIT;
std::string folder;

// Milliseconds since 1970-01-01 UTC: the clock of the test scripts (Python's
// time.time() * 1000) and of every other process on the machine.
double now_ms() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const unsigned long long unixEpochTicks = 116444736000000000ULL;  // 100 ns ticks from 1601 to 1970
  return static_cast<double>(ticks - unixEpochTicks) / 10000.0;
}

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(length));
}

// The time stamp is taken under the lock, so the lines of all threads are in
// time order.
void append_line(const std::string& event) {
  const std::string path = folder + "fake_jvm.log";
  AcquireSRWLockExclusive(&journalLock);
  char header[96];
  std::snprintf(header, sizeof header, "%.3f pid=%lu tid=%lu ", now_ms(), GetCurrentProcessId(),
                GetCurrentThreadId());
  const std::string line = header + event + "\n";
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  ReleaseSRWLockExclusive(&journalLock);
}

std::string environment_variable(const char* name, bool* found) {
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  *found = size != 0;
  if (size == 0) return std::string();
  std::vector<char> buffer(size);
  const DWORD length = GetEnvironmentVariableA(name, buffer.data(), size);
  return std::string(buffer.data(), length < size ? length : 0);
}

}  // namespace

const std::string& module_folder() { return folder; }

void journal(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string event = vformat(format, args);
  va_end(args);
  append_line(event);
}

void journal_open(HMODULE self, const char* dllName) {
  std::vector<char> path(32768);
  const DWORD length = GetModuleFileNameA(self, path.data(), static_cast<DWORD>(path.size()));
  std::string modulePath(path.data(), length < path.size() ? length : 0);
  folder = modulePath.substr(0, modulePath.find_last_of("\\/") + 1);

  journal("dll_loaded name=%s text=%s", dllName, modulePath.c_str());
  bool found = false;
  const std::string searchPath = environment_variable("Path", &found);
  journal("env_path set=%d text=%s", found ? 1 : 0, searchPath.c_str());
  const DWORD cwdLength = GetCurrentDirectoryA(static_cast<DWORD>(path.size()), path.data());
  journal("cwd text=%s", std::string(path.data(), cwdLength < path.size() ? cwdLength : 0).c_str());
}
