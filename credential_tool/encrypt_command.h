// The command line that has encrypt.bat encrypt the password. It runs
// through the command interpreter, so a password must never be able to end
// the command, start another one or redirect output.
#pragma once

#include <string>

// Builds "encrypt.bat password.txt -e <password>". A password holding
// characters that cmd.exe splits or acts on (blanks, & | < > ^ ( ) , ; =) is
// put in double quotes, inside which cmd.exe takes them literally. A password
// holding a character that no quoting protects ('"', '%', '!', control
// characters) is refused: returns false and sets `unsafe` to that character.
bool build_encrypt_command(const std::string& password, std::string& command, char& unsafe);

// The message that refuses such a password.
std::string password_refusal(char unsafe);
