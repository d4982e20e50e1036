#include "argument_text.h"

namespace {

// C0 controls, DEL and the C1 controls. A tab is harmless (quoted) on the
// encrypt command line; the user name, written into the configuration as it
// is, may hold none.
bool is_refused_control(unsigned long code, Tab tab) {
  if (code == '\t') {
    return tab == Tab::refused;
  }
  return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

}  // namespace

ArgumentCheck to_latin1(const wchar_t* wide, Tab tab, std::string& narrow) {
  narrow.clear();
  std::string converted;
  for (const wchar_t* p = wide; *p != L'\0'; ++p) {
    // wchar_t is signed on some platforms: a negative value is out of range too.
    const long long value = static_cast<long long>(*p);
    if (value < 0 || value > 0xFF) {
      return ArgumentCheck::beyond_latin1;
    }
    const unsigned long code = static_cast<unsigned long>(value);
    if (is_refused_control(code, tab)) {
      return ArgumentCheck::control_character;
    }
    converted.push_back(static_cast<char>(static_cast<unsigned char>(code)));
  }
  narrow.swap(converted);
  return ArgumentCheck::ok;
}

std::string argument_refusal(const char* argument_name, ArgumentCheck problem) {
  std::string message = "Error: the ";
  message += argument_name;
  switch (problem) {
    case ArgumentCheck::beyond_latin1:
      message += " holds a character above U+00FF, which the configuration cannot store";
      break;
    case ArgumentCheck::control_character:
      message += " holds a line break or another control character";
      break;
    case ArgumentCheck::ok:
      return std::string();
  }
  message += "; nothing was changed\n";
  return message;
}
