#include "config_rewrite.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// A temporary stream holding `bytes`, positioned at its start.
std::FILE* stream_of(const std::string& bytes) {
  std::FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  return file;
}

std::string contents_of(std::FILE* file) {
  std::rewind(file);
  std::string bytes;
  char block[4096];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
    bytes.append(block, got);
  }
  return bytes;
}

std::string rewrite(const std::string& input, const std::string& user = "admin",
                    const std::string& encrypted = "ENC", RewriteResult expected = RewriteResult::ok) {
  std::FILE* in = stream_of(input);
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(rewrite_configuration(in, out, user, encrypted), expected) << input;
  std::string result = contents_of(out);
  std::fclose(in);
  std::fclose(out);
  return result;
}

}  // namespace

TEST(CredentialKey, OnlyTheKeysThemselvesAreRecognised) {
  EXPECT_EQ(credential_key_of("userid=old\n"), CredentialKey::userid);
  EXPECT_EQ(credential_key_of("password=\n"), CredentialKey::password);
  EXPECT_EQ(credential_key_of(" \t userid=x"), CredentialKey::userid);
  EXPECT_EQ(credential_key_of("\tpassword=x"), CredentialKey::password);
  for (const char* other : {"#userid=admin\n", "! password=x\n", "keystore.password=abc\n",
                            "USERID=admin\n", "Password=x\n", "userid =admin\n", "userid\n",
                            "passwor", "", "\n", "x userid=a password=b\n", "\fuserid=a\n"}) {
    EXPECT_EQ(credential_key_of(other), CredentialKey::none) << other;
  }
}

TEST(LineReader, LinesComeWholeAcrossBlocks) {
  const std::string long_line = std::string(10000, 'a') + "\n";
  std::FILE* in = stream_of("ab\n" + long_line + "\n\nlast");
  LineReader reader(in, 7);  // a tiny block forces lines across block edges
  std::string line;
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, "ab\n");
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, long_line);
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, "\n");
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, "\n");
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(reader.next(line));
  EXPECT_FALSE(reader.failed());
  std::fclose(in);
}

TEST(EncryptedValue, TrailingLineEndIsCut) {
  EXPECT_EQ(encrypted_value("ENC:abc\n"), "ENC:abc");
  EXPECT_EQ(encrypted_value("ENC:abc\r\n"), "ENC:abc");
  EXPECT_EQ(encrypted_value("ENC:abc\r\r\n"), "ENC:abc");
  EXPECT_EQ(encrypted_value("ENC:abc"), "ENC:abc");
  EXPECT_EQ(encrypted_value("a\rb\n"), "a\rb");
  EXPECT_EQ(encrypted_value("\n"), "");
  EXPECT_EQ(encrypted_value(std::string("\0abc\n", 5)), "");
}

TEST(RewriteConfiguration, ReplacesTheTwoKeysAndCopiesTheRest) {
  const std::string input =
      "# settings\n"
      "#userid=old\n"
      "  userid=old\n"
      "keystore.password=abc\n"
      "USERID=admin\r\n"
      "password=old-secret\n"
      "port=8443";
  EXPECT_EQ(rewrite(input, "Jos\xe9", "ENC:new"),
            "# settings\n"
            "#userid=old\n"
            "userid=Jos\xe9\n"
            "keystore.password=abc\n"
            "USERID=admin\r\n"
            "password=ENC:new\n"
            "port=8443");
}

TEST(RewriteConfiguration, LongLinesStayWholeAndAreMatched) {
  const std::string long_value(5000, 'v');
  const std::string long_other = "other=" + std::string(200000, 'o') + "\n";
  EXPECT_EQ(rewrite("password=" + long_value + "\n" + long_other + "userid=" + long_value),
            "password=ENC\n" + long_other + "userid=admin\n");
}

TEST(RewriteConfiguration, UnusualBytesAreCopiedAsTheyAre) {
  const std::string input = std::string("a\0b\n", 4) + "lone\rcr\n\x1a tail\n\xff\xfe\n";
  EXPECT_EQ(rewrite(input, "admin", "ENC", RewriteResult::no_key_lines), input);
  EXPECT_EQ(rewrite("", "admin", "ENC", RewriteResult::no_key_lines), "");
}

TEST(RewriteConfiguration, WriteFailureIsReported) {
  // A stream opened for reading only refuses every write, on every platform.
  const char* name = "write_failure_test.txt";
  std::FILE* made = std::fopen(name, "w");
  ASSERT_NE(made, nullptr);
  std::fclose(made);
  std::FILE* in = stream_of("a=1\nuserid=x\n");
  std::FILE* read_only = std::fopen(name, "r");
  ASSERT_NE(read_only, nullptr);
  EXPECT_EQ(rewrite_configuration(in, read_only, "u", "p"), RewriteResult::write_failed);
  std::fclose(read_only);
  std::fclose(in);
  std::remove(name);
}

TEST(RewriteConfiguration, ReadFailureIsReported) {
  std::FILE* write_only = std::tmpfile();
  std::FILE* not_readable = std::fopen("/dev/null", "w");
  ASSERT_NE(not_readable, nullptr);
  EXPECT_EQ(rewrite_configuration(not_readable, write_only, "u", "p"), RewriteResult::read_failed);
  std::fclose(not_readable);
  std::fclose(write_only);
}
