// Conversion of the command-line arguments (wide) to the one-byte text that
// the configuration file and the encrypt command take.
#pragma once

#include <string>

enum class ArgumentCheck {
  ok,
  beyond_latin1,      // a character above U+00FF
  control_character,  // a line break or another control character
};

// Whether an argument may hold a tab, the one control character that the
// password (quoted on the encrypt command line) may hold.
enum class Tab { refused, allowed };

// Converts a wide argument to Latin-1, one byte per character. On a refusal
// `narrow` is left empty.
ArgumentCheck to_latin1(const wchar_t* wide, Tab tab, std::string& narrow);

// The message that refuses an argument, e.g. "user name" or "password".
std::string argument_refusal(const char* argument_name, ArgumentCheck problem);
