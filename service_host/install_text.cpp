#include "install_text.h"

bool module_path_complete(unsigned long length, std::size_t bufferSize) {
  return length != 0 && length < bufferSize;
}

std::string quoted_binary_path(const char* path) { return "\"" + std::string(path) + "\""; }

RecoverySettings recovery_settings() {
  constexpr unsigned long kRestartDelayMs = 60 * 1000;
  constexpr unsigned long kOneDayS = 24 * 60 * 60;
  return RecoverySettings{kOneDayS, {{true, kRestartDelayMs}, {true, kRestartDelayMs}, {false, 0}}, true};
}
