#pragma once

// The host's own texts (registry data, system texts, paths of the A
// functions) are in the ANSI code page; event texts and debug output are
// UTF-16. Win32 side.

#include <string>

std::wstring wide_from_ansi(const char* text);
std::string ansi_from_wide(const wchar_t* text);
