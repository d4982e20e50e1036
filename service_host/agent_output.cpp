#include "agent_output.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

}  // namespace

std::string log_folder_of(const std::string& programPath) {
  const std::size_t last = programPath.find_last_of("\\/");
  const std::string folder = last == std::string::npos ? std::string(".") : programPath.substr(0, last);
  return folder + kSeparator + "logs";
}

std::string agent_output_file(const std::string& folder, int generation) {
  const std::string name = generation == 0 ? "agent-output.log" : "agent-output." + std::to_string(generation) + ".log";
  return folder + kSeparator + name;
}

std::string agent_output_start_line(const std::tm& localTime, unsigned long processId) {
  char line[96];
  std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d Service started, process id %lu\r\n",
                localTime.tm_year + 1900, localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour,
                localTime.tm_min, localTime.tm_sec, processId);
  return line;
}

AgentOutputLog::AgentOutputLog(std::string folder, std::uint64_t limit, DropHook onFirstDrop)
    : folder_(std::move(folder)), limit_(limit), onFirstDrop_(std::move(onFirstDrop)) {}

AgentOutputLog::~AgentOutputLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void AgentOutputLog::drop(const std::string& path, int error) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (dropReported_) return;
  dropReported_ = true;
  if (onFirstDrop_) onFirstDrop_(path, std::generic_category().message(error).c_str());
}

bool AgentOutputLog::open() {
  const std::string path = agent_output_file(folder_, 0);
  errno = 0;
  file_ = std::fopen(path.c_str(), "ab");
  if (file_ == nullptr || std::fseek(file_, 0, SEEK_END) != 0) {
    drop(path, errno != 0 ? errno : EIO);
    return false;
  }
  const long size = std::ftell(file_);
  size_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  return true;
}

void AgentOutputLog::rotate() {
  std::fclose(file_);
  file_ = nullptr;
  std::remove(agent_output_file(folder_, kAgentOutputOldFiles).c_str());
  for (int generation = kAgentOutputOldFiles - 1; generation >= 0; --generation)
    std::rename(agent_output_file(folder_, generation).c_str(), agent_output_file(folder_, generation + 1).c_str());
  // A file that cannot be moved (another program holds it) is started
  // afresh, so that it stays within its bound.
  std::remove(agent_output_file(folder_, 0).c_str());
}

void AgentOutputLog::write(const char* data, std::size_t length) {
  if (length == 0) return;
  if (file_ == nullptr && !open()) return;
  if (size_ > 0 && size_ + length > limit_) {
    rotate();
    if (!open()) return;
  }
  errno = 0;
  if (std::fwrite(data, 1, length, file_) != length || std::fflush(file_) != 0) {
    drop(agent_output_file(folder_, 0), errno != 0 ? errno : EIO);
    return;
  }
  size_ += length;
}
