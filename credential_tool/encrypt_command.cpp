#include "encrypt_command.h"

#include <cstring>

namespace {

// '"' would end the quoting; '%' and '!' expand variables even inside quotes.
bool is_unsafe(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  if (byte < 0x20 && c != '\t') {
    return true;
  }
  return byte == 0x7F || c == '"' || c == '%' || c == '!';
}

bool needs_quotes(char c) {
  return c != '\0' && std::strchr(" \t&|<>^(),;=", c) != nullptr;
}

}  // namespace

bool build_encrypt_command(const std::string& password, std::string& command, char& unsafe) {
  bool quote = false;
  for (char c : password) {
    if (is_unsafe(c)) {
      unsafe = c;
      return false;
    }
    quote = quote || needs_quotes(c);
  }
  command = "encrypt.bat password.txt -e ";
  if (quote) {
    command += '"';
    command += password;
    command += '"';
  } else {
    command += password;
  }
  return true;
}

std::string password_refusal(char unsafe) {
  std::string message = "Error: the password holds ";
  const unsigned char byte = static_cast<unsigned char>(unsafe);
  if (byte < 0x20 || byte == 0x7F) {
    message += "a control character";
  } else {
    message += "the character '";
    message += unsafe;
    message += "'";
  }
  message += ", which cannot be passed safely to encrypt.bat; nothing was changed\n";
  return message;
}
