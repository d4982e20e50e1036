// Composition of the last-error text from the system's message and its code.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "error_text.h"

namespace {

std::string compose(const char* systemText, unsigned long code) {
  char buffer[kLastErrorTextSize];
  std::memset(buffer, 'x', sizeof buffer);
  return compose_last_error_text(systemText, code, buffer, sizeof buffer);
}

TEST(LastErrorText, CutsTheLineEndAndAppendsTheCodeInHex) {
  EXPECT_EQ(compose("The specified service does not exist as an installed service.\r\n", 0x424),
            "The specified service does not exist as an installed service. (0x424)");
  EXPECT_EQ(compose("Service exists.\r\n", 1073), "Service exists. (0x431)");
  EXPECT_EQ(compose("Lone line feed.\n", 5), "Lone line feed. (0x5)");
  EXPECT_EQ(compose("No line end", 0xffffffff), "No line end (0xffffffff)");
  EXPECT_EQ(compose("", 2), " (0x2)");
}

TEST(LastErrorText, NoSystemTextGivesTheEmptyString) { EXPECT_EQ(compose(nullptr, 0x424), ""); }

TEST(LastErrorText, TextsLongerThan242CharactersGiveTheEmptyString) {
  // 242 characters, line end included, is the longest text that still fits.
  const std::string fits = std::string(240, 'a') + "\r\n";
  const std::string tooLong = std::string(241, 'a') + "\r\n";
  EXPECT_EQ(compose(fits.c_str(), 0xffffffff), std::string(240, 'a') + " (0xffffffff)");
  EXPECT_EQ(compose(tooLong.c_str(), 1), "");
}

TEST(LastErrorText, StaysInsideASmallBuffer) {
  char buffer[20];
  std::memset(buffer, 'x', sizeof buffer);
  // Six characters without a line end and the widest code fill all 20 bytes.
  EXPECT_STREQ(compose_last_error_text("abcdef", 0xffffffff, buffer, sizeof buffer), "abcdef (0xffffffff)");
  EXPECT_STREQ(compose_last_error_text("abcdefg", 0xffffffff, buffer, sizeof buffer), "");
  EXPECT_STREQ(compose_last_error_text("ab\r\n", 0x424, buffer, sizeof buffer), "ab (0x424)");
}

}  // namespace
