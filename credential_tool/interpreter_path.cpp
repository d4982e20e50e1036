#include "interpreter_path.h"

namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_drive_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

bool is_fully_qualified(const std::wstring& path) {
  if (path.size() >= 3 && is_drive_letter(path[0]) && path[1] == L':' && is_separator(path[2])) {
    return true;
  }
  return path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2]);
}
