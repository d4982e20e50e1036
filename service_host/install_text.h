#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Size of the buffer that receives the program's own path.
constexpr std::size_t kModulePathSize = 512;

// GetModuleFileNameA's result is usable only when it is neither a failure (0)
// nor a path cut short to fill the whole buffer.
bool module_path_complete(unsigned long length, std::size_t bufferSize);

// The binary path to register: the program's path in double quotes, so that a
// path with spaces cannot be read as a shorter program plus arguments.
std::string quoted_binary_path(const char* path);

// What the SCM does when the service fails (stops with a nonzero exit code,
// or its process ends without reporting stopped): restart it after a minute,
// twice, then leave it stopped; the count of failures starts again after a
// day without one.
struct RecoveryAction {
  bool restart;          // SC_ACTION_RESTART, else SC_ACTION_NONE
  unsigned long delayMs;
};
struct RecoverySettings {
  unsigned long resetPeriodS;
  std::vector<RecoveryAction> actions;  // the last one holds for every later failure
  bool onNonCrashFailures;              // SERVICE_CONFIG_FAILURE_ACTIONS_FLAG: a stop with an exit code counts
};
RecoverySettings recovery_settings();
