#include "error_text.h"

#include <cstdio>
#include <cstring>

namespace {

// Room the text needs beyond its own characters: " (0x", up to eight hex
// digits, ")" and the terminating zero, less the two line-end characters cut.
constexpr std::size_t kDecorationRoom = 14;

bool is_line_end(char c) { return c == '\r' || c == '\n'; }

}  // namespace

char* compose_last_error_text(const char* systemText, unsigned long code, char* buffer, std::size_t size) {
  if (size == 0) return buffer;
  buffer[0] = '\0';
  if (systemText == nullptr) return buffer;
  const std::size_t length = std::strlen(systemText);
  if (length + kDecorationRoom > size) return buffer;
  // System texts end with CR LF; cut that line end (at most two characters),
  // never the text itself.
  std::size_t kept = length;
  for (int cut = 0; cut < 2 && kept > 0 && is_line_end(systemText[kept - 1]); ++cut) --kept;
  std::snprintf(buffer, size, "%.*s (0x%lx)", static_cast<int>(kept), systemText, code);
  return buffer;
}
