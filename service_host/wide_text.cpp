#include "wide_text.h"

#include <windows.h>

std::wstring wide_from_ansi(const char* text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);  // terminator counted
  if (size <= 1) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
  wide.resize(static_cast<std::size_t>(size) - 1);
  return wide;
}

std::string ansi_from_wide(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string ansi(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], size, nullptr, nullptr);
  ansi.resize(static_cast<std::size_t>(size) - 1);
  return ansi;
}
