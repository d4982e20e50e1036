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

}  // namespace
