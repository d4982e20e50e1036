#include "encrypt_command.h"

#include <gtest/gtest.h>

namespace {

std::string command_for(const std::string& password) {
  std::string command;
  char unsafe = '\0';
  EXPECT_TRUE(build_encrypt_command(password, command, unsafe)) << password;
  return command;
}

}  // namespace

TEST(EncryptCommand, PlainPasswordGivesThePlainCommandLine) {
  EXPECT_EQ(command_for("Secret-1"), "encrypt.bat password.txt -e Secret-1");
  EXPECT_EQ(command_for("a.b_c+d*e?f/g\\h@#$~'`{}[]:\xe9"),
            "encrypt.bat password.txt -e a.b_c+d*e?f/g\\h@#$~'`{}[]:\xe9");
  EXPECT_EQ(command_for(""), "encrypt.bat password.txt -e ");
}

TEST(EncryptCommand, LongPasswordIsNotCut) {
  const std::string password(300, 'p');
  EXPECT_EQ(command_for(password), "encrypt.bat password.txt -e " + password);
}

TEST(EncryptCommand, InterpreterSpecialCharactersAreQuoted) {
  for (char special : std::string(" \t&|<>^(),;=")) {
    const std::string password = std::string("a") + special + "b";
    EXPECT_EQ(command_for(password), "encrypt.bat password.txt -e \"" + password + "\"");
  }
  EXPECT_EQ(command_for("x&echo pwned>pwned.txt"),
            "encrypt.bat password.txt -e \"x&echo pwned>pwned.txt\"");
}

TEST(EncryptCommand, CharactersNoQuotingProtectsAreRefused) {
  for (char bad : std::string("\"%!\n\r\x1a\x7f")) {
    std::string command = "untouched";
    char unsafe = '\0';
    EXPECT_FALSE(build_encrypt_command(std::string("a b") + bad + "c", command, unsafe));
    EXPECT_EQ(unsafe, bad);
    EXPECT_EQ(command, "untouched");
  }
}

TEST(EncryptCommand, RefusalNamesTheCharacter) {
  EXPECT_EQ(password_refusal('%'),
            "Error: the password holds the character '%', which cannot be passed safely to "
            "encrypt.bat; nothing was changed\n");
  EXPECT_EQ(password_refusal('\n'),
            "Error: the password holds a control character, which cannot be passed safely to "
            "encrypt.bat; nothing was changed\n");
}
