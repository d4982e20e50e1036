// The command line that has encrypt.bat encrypt the password. It runs
// through the command interpreter, so a password must never be able to end
// the command, start another one or redirect output. It is wide text for the
// wide command runner, so that no code page stands between the password and
// the script.
#pragma once

#include <cstddef>
#include <string>

// The longest command line, in characters, that the command interpreter runs.
constexpr std::size_t kCommandLineLimit = 8191;

// Builds L".\\encrypt.bat password.txt -e <password>" from the Latin-1 password
// (one byte per character, each becoming the character of the same value).
// A password holding characters that cmd.exe splits or acts on (blanks,
// & | < > ^ ( ) , ; =) or any character above U+007F is put in double
// quotes, inside which cmd.exe takes them literally. Refused, with `refusal`
// set to the message and `command` left as it was: a password holding a
// character that no quoting protects ('"', '%', '!', control characters),
// a quoted one that ends in a backslash, and one whose command line would
// pass kCommandLineLimit.
bool build_encrypt_command(const std::string& password, std::wstring& command, std::string& refusal);
