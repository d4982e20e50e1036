#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "run_mode.h"

namespace {

RunMode mode_of(std::initializer_list<const char*> arguments) {
  std::vector<const char*> argv{"Ostrad.exe"};
  argv.insert(argv.end(), arguments);
  argv.push_back(nullptr);
  return select_run_mode(static_cast<int>(argv.size() - 1), argv.data());
}

TEST(RunMode, EitherPrefixAndAnyLetterCaseSelectTheOption) {
  EXPECT_EQ(mode_of({"-i"}), RunMode::Install);
  EXPECT_EQ(mode_of({"/i"}), RunMode::Install);
  EXPECT_EQ(mode_of({"-I"}), RunMode::Install);
  EXPECT_EQ(mode_of({"-r"}), RunMode::Remove);
  EXPECT_EQ(mode_of({"-UnRegServer"}), RunMode::Remove);
  EXPECT_EQ(mode_of({"/UNREGSERVER"}), RunMode::Remove);
  EXPECT_EQ(mode_of({"-Ri"}), RunMode::Reinstall);
  EXPECT_EQ(mode_of({"/REGSERVER"}), RunMode::Reinstall);
  EXPECT_EQ(mode_of({"-regserver"}), RunMode::Reinstall);
  EXPECT_EQ(mode_of({"-d"}), RunMode::Debug);
  EXPECT_EQ(mode_of({"/D"}), RunMode::Debug);
}

TEST(RunMode, AnythingElseIsServiceMode) {
  EXPECT_EQ(mode_of({}), RunMode::Service);
  EXPECT_EQ(mode_of({"d"}), RunMode::Service);   // no prefix
  EXPECT_EQ(mode_of({"-x"}), RunMode::Service);
  EXPECT_EQ(mode_of({"/dd"}), RunMode::Service);
  EXPECT_EQ(mode_of({"--d"}), RunMode::Service);
  EXPECT_EQ(mode_of({"-"}), RunMode::Service);
  EXPECT_EQ(mode_of({"-i "}), RunMode::Service);
  EXPECT_EQ(mode_of({"-rii"}), RunMode::Service);
}

TEST(RunMode, OnlyTheFirstArgumentCounts) {
  EXPECT_EQ(mode_of({"x", "-i"}), RunMode::Service);
  EXPECT_EQ(mode_of({"-d", "-i"}), RunMode::Debug);
}

TEST(RunMode, CaseIsIgnoredForAsciiLettersOnly) {
  EXPECT_EQ(compare_ignoring_ascii_case("REGSERVER", "regserver"), 0);
  // Latin-1 letters of other case are different characters, as in the C locale.
  EXPECT_NE(compare_ignoring_ascii_case("\xC9", "\xE9"), 0);
  EXPECT_EQ(mode_of({"-\xC9"}), RunMode::Service);
  EXPECT_LT(compare_ignoring_ascii_case("A", "b"), 0);
  EXPECT_GT(compare_ignoring_ascii_case("ri", "r"), 0);
}

}  // namespace
