#include "encrypt_command.h"

#include <cstring>

namespace {

bool is_control(unsigned char byte) {
  return byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
}

// '"' would end the quoting; '%' and '!' expand variables even inside quotes.
bool is_unsafe(char c) {
  return (is_control(static_cast<unsigned char>(c)) && c != '\t') || c == '"' || c == '%' || c == '!';
}

// Beyond ASCII the interpreter may take a character (the no-break space,
// U+00FF) as a separator, so every such password is quoted as well.
bool needs_quotes(char c) {
  if (static_cast<unsigned char>(c) > 0x7F) {
    return true;
  }
  return c != '\0' && std::strchr(" \t&|<>^(),;=", c) != nullptr;
}

std::string unsafe_refusal(char unsafe) {
  std::string message = "Error: the password holds ";
  if (is_control(static_cast<unsigned char>(unsafe))) {
    message += "a control character";
  } else {
    message += "the character '";
    message += unsafe;
    message += "'";
  }
  message += ", which cannot be passed safely to encrypt.bat; nothing was changed\n";
  return message;
}

void append_latin1(std::wstring& wide, const std::string& latin1) {
  for (char c : latin1) {
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
}

}  // namespace

bool build_encrypt_command(const std::string& password, std::wstring& command, std::string& refusal) {
  bool quote = false;
  for (char c : password) {
    if (is_unsafe(c)) {
      refusal = unsafe_refusal(c);
      return false;
    }
    quote = quote || needs_quotes(c);
  }
  // Programs that split their command line by the usual rules (the Java
  // launcher among them) read \" as a quote character, not as the end of
  // the quoted argument.
  if (quote && password.back() == '\\') {
    refusal = "Error: the password ends in a backslash, which cannot be passed safely to encrypt.bat in the "
              "quotes this password needs; nothing was changed\n";
    return false;
  }
  // The script of the current folder, by a path: the interpreter then never
  // looks for it on the Path, where anyone may have put one.
  std::wstring built = L".\\encrypt.bat password.txt -e ";
  if (quote) {
    built += L'"';
  }
  append_latin1(built, password);
  if (quote) {
    built += L'"';
  }
  if (built.size() > kCommandLineLimit) {
    refusal = "Error: the password is too long for the command interpreter (the encrypt command would be "
              "longer than " + std::to_string(kCommandLineLimit) + " characters); nothing was changed\n";
    return false;
  }
  command.swap(built);
  return true;
}
