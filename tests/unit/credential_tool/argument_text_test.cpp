#include "argument_text.h"

#include <gtest/gtest.h>

TEST(ArgumentText, Latin1CharactersBecomeOneByteEach) {
  std::string narrow;
  ASSERT_EQ(to_latin1(L"Jos\u00e9 \u00ff\u00a0~", Tab::refused, narrow), ArgumentCheck::ok);
  EXPECT_EQ(narrow, std::string("Jos\xe9 \xff\xa0~"));
  ASSERT_EQ(to_latin1(L"", Tab::refused, narrow), ArgumentCheck::ok);
  EXPECT_EQ(narrow, "");
}

TEST(ArgumentText, TabOnlyWhereAllowed) {
  std::string narrow;
  ASSERT_EQ(to_latin1(L"a\tb", Tab::allowed, narrow), ArgumentCheck::ok);
  EXPECT_EQ(narrow, "a\tb");
  EXPECT_EQ(to_latin1(L"a\tb", Tab::refused, narrow), ArgumentCheck::control_character);
  EXPECT_EQ(narrow, "");
}

TEST(ArgumentText, CharacterAboveLatin1IsRefused) {
  std::string narrow = "old";
  EXPECT_EQ(to_latin1(L"ab\u0100", Tab::allowed, narrow), ArgumentCheck::beyond_latin1);
  EXPECT_EQ(narrow, "");
  EXPECT_EQ(to_latin1(L"\u20ac", Tab::allowed, narrow), ArgumentCheck::beyond_latin1);
}

TEST(ArgumentText, LineBreaksAndOtherControlsAreRefused) {
  std::string narrow;
  for (const wchar_t* text : {L"admin\npassword=x", L"a\rb", L"\x01", L"a\x7f", L"a\u0085b", L"\u009f"}) {
    EXPECT_EQ(to_latin1(text, Tab::allowed, narrow), ArgumentCheck::control_character)
        << static_cast<int>(text[1]);
    EXPECT_EQ(narrow, "");
  }
}

TEST(ArgumentText, RefusalNamesTheArgument) {
  EXPECT_EQ(argument_refusal("user name", ArgumentCheck::beyond_latin1),
            "Error: the user name holds a character above U+00FF, which the configuration cannot "
            "store; nothing was changed\n");
  EXPECT_EQ(argument_refusal("password", ArgumentCheck::control_character),
            "Error: the password holds a line break or another control character; nothing was "
            "changed\n");
}
