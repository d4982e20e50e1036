// The decisions installation takes on the program's own path.

#include <gtest/gtest.h>

#include "install_text.h"

namespace {

TEST(ModulePath, AFailedOrFilledBufferIsNotAPath) {
  EXPECT_FALSE(module_path_complete(0, kModulePathSize));                    // the call failed
  EXPECT_FALSE(module_path_complete(kModulePathSize, kModulePathSize));      // cut short to fit
  EXPECT_TRUE(module_path_complete(kModulePathSize - 1, kModulePathSize));   // longest whole path
  EXPECT_TRUE(module_path_complete(30, kModulePathSize));
}

TEST(BinaryPath, IsQuotedSoSpacesCannotSplitIt) {
  EXPECT_EQ(quoted_binary_path("C:\\Program Files\\Korvane\\Ostrad.exe"),
            "\"C:\\Program Files\\Korvane\\Ostrad.exe\"");
}

// Two restarts a minute apart, then the service stays stopped; a day without
// a failure starts the count again; a stop with an exit code counts.
TEST(Recovery, RestartsTwiceAfterAMinuteThenNothing) {
  const RecoverySettings settings = recovery_settings();
  std::string actions;
  for (const RecoveryAction& a : settings.actions)
    actions += (a.restart ? "restart " : "none ") + std::to_string(a.delayMs) + ";";
  EXPECT_EQ(actions, "restart 60000;restart 60000;none 0;");
  EXPECT_EQ(settings.resetPeriodS, 86400u);
  EXPECT_TRUE(settings.onNonCrashFailures);
}

}  // namespace
