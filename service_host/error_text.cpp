#include "error_text.h"

// Stub: filled in with installation and removal.
char* compose_last_error_text(const char*, unsigned long, char* buffer, std::size_t size) {
  if (size > 0) buffer[0] = '\0';
  return buffer;
}
