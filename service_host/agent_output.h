#pragma once

// The file that keeps the agent's standard output and error in service mode:
// logs\agent-output.log beside the program, bounded while the service runs.
// Portable: standard C files only.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

constexpr std::uint64_t kAgentOutputFileLimit = 10 * 1024 * 1024;  // bytes per file
constexpr int kAgentOutputOldFiles = 5;  // agent-output.1.log (newest) to agent-output.5.log

// The log folder beside the program at programPath: "<its folder>\logs".
std::string log_folder_of(const std::string& programPath);

// "<folder>\agent-output.log" for generation 0, "<folder>\agent-output.<n>.log"
// for the old file n.
std::string agent_output_file(const std::string& folder, int generation);

// The first line of each service start: "<yyyy-mm-dd hh:mm:ss> Service
// started, process id <pid>", in local time, with a Windows line end.
std::string agent_output_start_line(const std::tm& localTime, unsigned long processId);

// Appends to agent-output.log in its folder. Before a write would take the
// file over the limit, it becomes agent-output.1.log, the older files move up
// one, and the oldest beyond kAgentOutputOldFiles goes. Nothing here waits or
// stops: output that cannot be written is dropped (the next write tries
// again), and onFirstDrop hears of the first drop, with the file and why.
class AgentOutputLog {
 public:
  using DropHook = std::function<void(const std::string& path, const char* why)>;

  AgentOutputLog(std::string folder, std::uint64_t limit, DropHook onFirstDrop);
  ~AgentOutputLog();
  AgentOutputLog(const AgentOutputLog&) = delete;
  AgentOutputLog& operator=(const AgentOutputLog&) = delete;

  void write(const char* data, std::size_t length);

 private:
  bool open();
  void rotate();
  void drop(const std::string& path, int error);

  std::string folder_;
  std::uint64_t limit_;
  DropHook onFirstDrop_;
  std::FILE* file_ = nullptr;
  std::uint64_t size_ = 0;
  bool dropReported_ = false;
};
