// The file of the agent's output: its names, its start line and its bound.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "agent_output.h"

namespace {

namespace fs = std::filesystem;

class AgentOutput : public testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string contents(int generation) const {
    std::ifstream file(agent_output_file(folder.string(), generation), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  const fs::path folder = fs::temp_directory_path() / "ostrad-agent-output-test";
  std::vector<std::string> drops;
  AgentOutputLog::DropHook onDrop = [this](const std::string& path, const char*) { drops.push_back(path); };
};

TEST_F(AgentOutput, NamesAndStartLine) {
  const std::string sep(1, fs::path::preferred_separator);
  EXPECT_EQ(log_folder_of("C:\\Program Files\\K\\Ostrad.exe"), "C:\\Program Files\\K" + sep + "logs");
  std::tm local{};
  local.tm_year = 126, local.tm_mon = 11, local.tm_mday = 9, local.tm_hour = 14, local.tm_min = 3, local.tm_sec = 7;
  EXPECT_EQ(agent_output_start_line(local, 4242), "2026-12-09 14:03:07 Service started, process id 4242\r\n");
}

TEST_F(AgentOutput, AnExistingFileCountsAndFiveOldFilesAreKeptNewestFirst) {
  { std::ofstream(agent_output_file(folder.string(), 0), std::ios::binary) << "old\n"; }
  AgentOutputLog out(folder.string(), 10, onDrop);
  out.write("123456", 6);  // 10 bytes: at the limit, not over it
  out.write("x", 1);
  EXPECT_EQ(contents(0) + "|" + contents(1), "x|old\n123456");
  for (const char c : std::string("abcdef")) out.write(std::string(10, c).c_str(), 10);
  for (int generation = 0; generation <= kAgentOutputOldFiles; ++generation)
    EXPECT_EQ(contents(generation), std::string(10, "fedcba"[generation])) << generation;
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 6);
  EXPECT_TRUE(drops.empty());
}

TEST_F(AgentOutput, AnUnwritableFolderDropsTheOutputAndSaysSoOnce) {
  const fs::path notAFolder = folder / "file";
  { std::ofstream(notAFolder) << "x"; }
  AgentOutputLog out(notAFolder.string(), 10, onDrop);
  out.write("lost", 4);
  out.write("lost again", 10);
  EXPECT_EQ(drops, std::vector<std::string>{agent_output_file(notAFolder.string(), 0)});
}

}  // namespace
