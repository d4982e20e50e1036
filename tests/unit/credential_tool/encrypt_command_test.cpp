#include "encrypt_command.h"
#include "interpreter_path.h"

#include <gtest/gtest.h>

namespace {

std::wstring command_for(const std::string& password) {
  std::wstring command;
  std::string refusal;
  EXPECT_TRUE(build_encrypt_command(password, command, refusal)) << password << refusal;
  return command;
}

std::string refusal_for(const std::string& password) {
  std::wstring command = L"untouched";
  std::string refusal;
  EXPECT_FALSE(build_encrypt_command(password, command, refusal)) << password;
  EXPECT_EQ(command, L"untouched");
  return refusal;
}

}  // namespace

TEST(EncryptCommand, PlainPasswordGivesThePlainCommandLine) {
  EXPECT_EQ(command_for("Secret-1"), L".\\encrypt.bat password.txt -e Secret-1");
  EXPECT_EQ(command_for("a.b_c+d*e?f/g\\h@#$~'`{}[]:"),
            L".\\encrypt.bat password.txt -e a.b_c+d*e?f/g\\h@#$~'`{}[]:");
  EXPECT_EQ(command_for(""), L".\\encrypt.bat password.txt -e ");
  EXPECT_EQ(command_for("ends\\"), L".\\encrypt.bat password.txt -e ends\\");  // no quote to escape
}

TEST(EncryptCommand, LongPasswordIsNotCut) {
  const std::string password(300, 'p');
  EXPECT_EQ(command_for(password), L".\\encrypt.bat password.txt -e " + std::wstring(300, L'p'));
}

TEST(EncryptCommand, InterpreterSpecialCharactersAreQuoted) {
  for (char special : std::string(" \t&|<>^(),;=")) {
    const std::string password = std::string("a") + special + "b";
    const std::wstring wide = {L'a', static_cast<wchar_t>(special), L'b'};
    EXPECT_EQ(command_for(password), L".\\encrypt.bat password.txt -e \"" + wide + L"\"");
  }
  EXPECT_EQ(command_for("x&echo pwned>pwned.txt"),
            L".\\encrypt.bat password.txt -e \"x&echo pwned>pwned.txt\"");
}

// Each byte is the character of the same value (not a code page's), and
// anything beyond ASCII is quoted.
TEST(EncryptCommand, CharactersBeyondAsciiAreTheSameCharactersQuoted) {
  EXPECT_EQ(command_for("Zo\xeb"), L".\\encrypt.bat password.txt -e \"Zo\u00eb\"");
  EXPECT_EQ(command_for("a\xa0" "b"), L".\\encrypt.bat password.txt -e \"a\u00a0b\"");
  EXPECT_EQ(command_for("\xff"), L".\\encrypt.bat password.txt -e \"\u00ff\"");
  EXPECT_EQ(command_for("\xa1\xe9 x"), L".\\encrypt.bat password.txt -e \"\u00a1\u00e9 x\"");
}

TEST(EncryptCommand, CharactersNoQuotingProtectsAreRefused) {
  for (char bad : std::string("\"%!")) {
    EXPECT_EQ(refusal_for(std::string("a b") + bad + "c"),
              std::string("Error: the password holds the character '") + bad +
                  "', which cannot be passed safely to encrypt.bat; nothing was changed\n");
  }
  for (char control : std::string("\n\r\x1a\x7f\x85")) {
    EXPECT_EQ(refusal_for(std::string("a b") + control + "c"),
              "Error: the password holds a control character, which cannot be passed safely to "
              "encrypt.bat; nothing was changed\n")
        << static_cast<int>(control);
  }
}

// ".\encrypt.bat password.txt -e " is 30 characters; quotes count as well.
TEST(EncryptCommand, CommandLongerThanTheInterpreterTakesIsRefused) {
  EXPECT_EQ(command_for(std::string(8161, 'p')).size(), kCommandLineLimit);
  EXPECT_EQ(command_for(std::string(8157, 'p') + " p").size(), kCommandLineLimit);
  const std::string too_long =
      "Error: the password is too long for the command interpreter (the encrypt command would be "
      "longer than 8191 characters); nothing was changed\n";
  EXPECT_EQ(refusal_for(std::string(8162, 'p')), too_long);
  EXPECT_EQ(refusal_for(std::string(8159, 'p') + "\xe9"), too_long);
  EXPECT_EQ(refusal_for(std::string(100000, 'p')), too_long);
}

// Only a COMSPEC that cannot depend on the current drive or folder is used.
TEST(InterpreterPath, OnlyAFullPathIsTaken) {
  EXPECT_TRUE(is_fully_qualified(L"C:\\Windows\\cmd.exe") && is_fully_qualified(L"\\\\server\\share\\cmd.exe"));
  for (const wchar_t* partial : {L"", L"cmd.exe", L".\\cmd.exe", L"\\cmd.exe", L"C:cmd.exe", L"\\\\\\cmd.exe"}) {
    EXPECT_FALSE(is_fully_qualified(partial)) << partial;
  }
}
