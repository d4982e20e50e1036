#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jvm_setup.h"

namespace {

TEST(InstallDirectoryValue, OnlyPathInThatCaseMatches) {
  EXPECT_TRUE(is_install_directory_value("Path"));
  EXPECT_FALSE(is_install_directory_value("path"));
  EXPECT_FALSE(is_install_directory_value("PATH"));
  EXPECT_FALSE(is_install_directory_value("Path "));
  EXPECT_FALSE(is_install_directory_value(shown_value_name("")));
  EXPECT_STREQ(shown_value_name(""), "<NO NAME>");
  EXPECT_STREQ(shown_value_name("Path"), "Path");
}

TEST(InstallDirectoryValue, DataMustHoldItsTerminatorWithinTheBuffer) {
  std::string directory;
  const char stored[] = "C:\\Prog";
  ASSERT_TRUE(install_directory_from_data(stored, sizeof stored, directory));
  EXPECT_EQ(directory, "C:\\Prog");

  const char unterminated[] = {'C', ':', '\\', 'P'};
  EXPECT_FALSE(install_directory_from_data(unterminated, sizeof unterminated, directory));

  std::string longest(kInstallDirectoryBufferSize - 1, 'x');
  ASSERT_TRUE(install_directory_from_data(longest.c_str(), longest.size() + 1, directory));
  EXPECT_EQ(directory.size(), kInstallDirectoryBufferSize - 1);

  // A terminator only beyond the buffer does not count.
  std::string tooLong(kInstallDirectoryBufferSize, 'x');
  EXPECT_FALSE(install_directory_from_data(tooLong.c_str(), tooLong.size() + 1, directory));
}

TEST(SearchAndClassPath, ComposedFromTheInstallationDirectory) {
  EXPECT_EQ(compose_search_path("C:\\Prog", "C:\\Windows"),
            "C:\\Prog;C:\\Prog\\jre\\bin;C:\\Prog\\jre\\bin\\server;C:\\Windows");
  EXPECT_EQ(compose_search_path("C:\\Prog", ""), "C:\\Prog;C:\\Prog\\jre\\bin;C:\\Prog\\jre\\bin\\server;");
  std::string classPath;
  ASSERT_TRUE(compose_class_path("C:\\Prog", classPath));
  EXPECT_EQ(classPath, "C:\\Prog;C:\\Prog\\ostrel.jar;C:\\Prog\\Brantic.jar;");
  // jvm.dll by full path, in the search path's order.
  const std::vector<std::string> libraries = {"C:\\Prog\\jvm.dll", "C:\\Prog\\jre\\bin\\jvm.dll",
                                              "C:\\Prog\\jre\\bin\\server\\jvm.dll"};
  EXPECT_EQ(jvm_library_candidates("C:\\Prog"), libraries);
}

TEST(SearchAndClassPath, AnOldPathOfAnyLengthIsKeptWhole) {
  const std::string oldPath(40000, 'p');
  const std::string composed = compose_search_path("D", oldPath);
  EXPECT_EQ(composed.size(), std::string("D;D\\jre\\bin;D\\jre\\bin\\server;").size() + oldPath.size());
  EXPECT_EQ(composed.substr(composed.size() - oldPath.size()), oldPath);
}

TEST(JvmOptions, SixOptionsInTheirOrder) {
  std::vector<std::string> options;
  ASSERT_TRUE(compose_jvm_options("C:\\Prog;C:\\Prog\\ostrel.jar;C:\\Prog\\Brantic.jar;", "C:\\Prog",
                                  "C:\\ProgramData", options));
  const std::vector<std::string> expected = {
      "-Djava.class.path=C:\\Prog;C:\\Prog\\ostrel.jar;C:\\Prog\\Brantic.jar;",
      "-Djava.compiler=NONE",
      "-Duser.dir=C:\\Prog",
      "-Duser.region=US",
      "-Duser.language=en",
      "-Denv.savepath=C:\\ProgramData"};
  EXPECT_EQ(options, expected);
}

TEST(JvmOptions, CrashReportGoesToTheLogFolderWithItsPercentSignsKept) {
  EXPECT_EQ(crash_report_option("C:\\P\\logs"), "-XX:ErrorFile=C:\\P\\logs\\hs_err_pid%p.log");
  EXPECT_EQ(crash_report_option("C:\\100%p\\logs"), "-XX:ErrorFile=C:\\100%%p\\logs\\hs_err_pid%p.log");
  EXPECT_EQ(crash_report_path("C:\\100%p\\logs", 42), "C:\\100%p\\logs\\hs_err_pid42.log");
}

TEST(JvmOptions, UnsetAllUsersProfileGivesNullText) {
  std::vector<std::string> options;
  ASSERT_TRUE(compose_jvm_options("cp", "dir", nullptr, options));
  ASSERT_EQ(options.size(), 6u);
  EXPECT_EQ(options[5], "-Denv.savepath=(null)");
}

TEST(JvmOptions, ValuesThatDoNotFitTheirBufferAreRefusedNotCut) {
  std::vector<std::string> options;
  const std::string classPathPrefix = "-Djava.class.path=";
  EXPECT_TRUE(compose_jvm_options(std::string(511 - classPathPrefix.size(), 'c'), "d", "p", options));
  EXPECT_FALSE(compose_jvm_options(std::string(512 - classPathPrefix.size(), 'c'), "d", "p", options));

  const std::string userDirPrefix = "-Duser.dir=";
  EXPECT_TRUE(compose_jvm_options("c", std::string(511 - userDirPrefix.size(), 'd'), "p", options));
  EXPECT_FALSE(compose_jvm_options("c", std::string(512 - userDirPrefix.size(), 'd'), "p", options));

  const std::string savePathPrefix = "-Denv.savepath=";
  EXPECT_TRUE(compose_jvm_options("c", "d", std::string(1023 - savePathPrefix.size(), 'p').c_str(), options));
  options.clear();
  EXPECT_FALSE(compose_jvm_options("c", "d", std::string(1024 - savePathPrefix.size(), 'p').c_str(), options));
  EXPECT_TRUE(options.empty());
}

TEST(JvmOptions, ClassPathMustFitItsBuffer) {
  std::string classPath = "unchanged";
  const std::string fixedPart = ";\\ostrel.jar;\\Brantic.jar;";
  EXPECT_TRUE(compose_class_path(std::string((4095 - fixedPart.size()) / 3, 'd'), classPath));
  EXPECT_LT(classPath.size(), kClassPathBufferSize);
  classPath = "unchanged";
  EXPECT_FALSE(compose_class_path(std::string(1400, 'd'), classPath));
  EXPECT_EQ(classPath, "unchanged");
}

}  // namespace
