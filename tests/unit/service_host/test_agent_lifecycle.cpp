#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent_lifecycle.h"
#include "failure_text.h"
#include "status_reporter.h"

namespace {

// Hooks that record what the lifecycle asks of the platform, in order.
struct FakePlatform {
  AgentLifecycle life;
  std::mutex logLock;
  std::vector<std::string> log;
  int probeRuns = 0;
  int succeedOnRun = 1;  // 0: never
  bool jvmCreated = true;
  std::function<void()> duringPause, duringCreate, duringWait, duringCleanup;

  void record(const std::string& event) {
    std::lock_guard<std::mutex> guard(logLock);
    log.push_back(event);
  }
  int count(const std::string& event) {
    std::lock_guard<std::mutex> guard(logLock);
    return static_cast<int>(std::count(log.begin(), log.end(), event));
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> guard(logLock);
    return log;
  }

  FakePlatform() {
    AgentHooks& h = life.hooks;
    h.probeLoopback = [this] {
      ++probeRuns;
      record("probe");
      return probeRuns == succeedOnRun ? 0 : 1;
    };
    h.pause = [this](unsigned ms) {
      record("pause " + std::to_string(ms));
      if (duringPause) duringPause();
    };
    h.wakePause = [this] { record("wake"); };
    h.report = [this](std::uint32_t state, std::uint32_t exitCode, std::uint32_t hint) {
      record("report " + std::to_string(state) + "," + std::to_string(exitCode) + "," + std::to_string(hint));
      return true;
    };
    h.createJvm = [this] {
      record("create jvm");
      if (duringCreate) duringCreate();
      return jvmCreated;
    };
    h.beep = [this](unsigned hz, unsigned ms) { record("beep " + std::to_string(hz) + "/" + std::to_string(ms)); };
    h.launchAgent = [this] { record("launch"); };
    h.filterLogoff = [this] { record("logoff filter"); };
    h.waitForAgentEnd = [this] {
      record("wait");
      if (duringWait) duringWait();
    };
    h.callCleanup = [this] {
      record("cleanup");
      if (duringCleanup) duringCleanup();
    };
    h.fail = [this](const char* text) { record(std::string("fail ") + text); };
  }
};

const std::vector<std::string> kGivenUp = {"report 1,0,0", "beep 2000/500"};
const std::string kProbeFailure = std::string("fail ") + probe_unanswered(30, 10000).text;

// What follows the probe's last run: its text, said at once.
std::string after_last_probe(const std::vector<std::string>& events) {
  const auto last = std::find(events.rbegin(), events.rend(), "probe");
  return last == events.rend() || last == events.rbegin() ? "" : *(last - 1);
}

int failures(const std::vector<std::string>& events) {
  return static_cast<int>(
      std::count_if(events.begin(), events.end(), [](const std::string& e) { return e.rfind("fail ", 0) == 0; }));
}

std::vector<std::string> tail(const std::vector<std::string>& events, size_t n) {
  return std::vector<std::string>(events.end() - static_cast<long>(std::min(n, events.size())), events.end());
}

TEST(AgentRun, SuccessfulStartReportsRunningLaunchesAndWaits) {
  FakePlatform p;
  run_agent(p.life);
  const std::vector<std::string> expected = {"probe",        "report 2,0,0", "create jvm",    "beep 5000/125",
                                             "report 4,0,10000", "launch",   "logoff filter", "wait",
                                             "report 1,0,0"};
  EXPECT_EQ(p.events(), expected);
}

TEST(AgentRun, ProbeNeverAnsweringGivesUpAfter31RunsAnd30PausesButStillCreatesTheJvm) {
  FakePlatform p;
  p.succeedOnRun = 0;
  run_agent(p.life);
  EXPECT_EQ(p.count("probe"), 31);
  EXPECT_EQ(p.count("pause 10000"), 30);
  EXPECT_EQ(p.count("create jvm"), 1);
  EXPECT_EQ(p.count("launch"), 0);
  EXPECT_EQ(tail(p.events(), 2), kGivenUp);
  EXPECT_EQ(after_last_probe(p.events()), kProbeFailure);
  EXPECT_EQ(failures(p.events()), 1);
}

TEST(AgentRun, ProbeAnsweringOnlyOnItsLastRunStillGivesUp) {
  FakePlatform p;
  p.succeedOnRun = 31;
  run_agent(p.life);
  EXPECT_EQ(p.count("probe"), 31);
  EXPECT_EQ(p.count("launch"), 0);
  EXPECT_EQ(tail(p.events(), 2), kGivenUp);
  EXPECT_EQ(after_last_probe(p.events()), kProbeFailure);
}

TEST(AgentRun, ProbeAnsweringOnTheThirtiethRunStarts) {
  FakePlatform p;
  p.succeedOnRun = 30;
  run_agent(p.life);
  EXPECT_EQ(p.count("pause 10000"), 29);
  EXPECT_EQ(p.count("launch"), 1);
  EXPECT_EQ(failures(p.events()), 0);
}

TEST(AgentRun, RefusedJvmGivesUpWithTheLowTone) {
  FakePlatform p;
  p.jvmCreated = false;
  run_agent(p.life);
  EXPECT_EQ(p.count("launch"), 0);
  EXPECT_EQ(p.count("report 4,0,10000"), 0);
  EXPECT_EQ(tail(p.events(), 2), kGivenUp);
}

TEST(AgentRun, AgentEndingByItselfReportsStoppedWithoutCleanup) {
  FakePlatform p;
  run_agent(p.life);
  EXPECT_EQ(p.count("cleanup"), 0);
  EXPECT_EQ(p.events().back(), "report 1,0,0");
}

TEST(StopSequence, StopDuringTheProbeGivesUpWithoutMakingAJvm) {
  FakePlatform p;
  p.succeedOnRun = 0;
  p.duringPause = [&] { run_stop_sequence(p.life); };
  run_agent(p.life);
  EXPECT_EQ(p.count("pause 10000"), 1);
  EXPECT_EQ(p.count("create jvm"), 0);
  EXPECT_EQ(p.count("cleanup"), 0);
  EXPECT_EQ(p.count("wake"), 1);
  EXPECT_EQ(tail(p.events(), 2), kGivenUp);
  // The stop's own reports.
  EXPECT_EQ(p.count("report 3,0,0"), 1);
  EXPECT_EQ(p.count("report 1,0,0"), 2);
  EXPECT_EQ(failures(p.events()), 0);  // a stop is no failure
}

TEST(StopSequence, StopInTheProbesLastPauseIsNoFailure) {
  FakePlatform p;
  p.succeedOnRun = 0;
  p.duringPause = [&] {
    if (p.count("pause 10000") == kProbeRetries) run_stop_sequence(p.life);
  };
  run_agent(p.life);
  EXPECT_EQ(p.count("pause 10000"), kProbeRetries);
  EXPECT_EQ(p.count("create jvm"), 0);
  EXPECT_EQ(tail(p.events(), 2), kGivenUp);
  EXPECT_EQ(failures(p.events()), 0);
}

TEST(StopSequence, StopDuringJvmCreationGivesUpAndNeverLaunches) {
  FakePlatform p;
  p.duringCreate = [&] { run_stop_sequence(p.life); };
  run_agent(p.life);
  EXPECT_EQ(p.count("launch"), 0);
  EXPECT_EQ(p.count("cleanup"), 0);
  EXPECT_EQ(tail(p.events(), 2), kGivenUp);
}

TEST(StopSequence, StopAfterAFailedStartSkipsTheJvm) {
  FakePlatform p;
  p.jvmCreated = false;
  run_agent(p.life);
  run_stop_sequence(p.life);
  EXPECT_EQ(p.count("cleanup"), 0);
  EXPECT_EQ(tail(p.events(), 3), (std::vector<std::string>{"report 3,0,0", "wake", "report 1,0,0"}));
}

TEST(StopSequence, StopWhileRunningCallsCleanupBetweenItsReports) {
  FakePlatform p;
  p.duringWait = [&] { run_stop_sequence(p.life); };
  run_agent(p.life);
  const std::vector<std::string> expected = {"wait", "report 3,0,0", "wake", "cleanup", "report 1,0,0",
                                             "report 1,0,0"};
  EXPECT_EQ(tail(p.events(), expected.size()), expected);
}

TEST(StopSequence, CleanupRunsAtMostOnce) {
  FakePlatform p;
  p.duringWait = [&] {
    run_stop_sequence(p.life);
    run_stop_sequence(p.life);
  };
  run_agent(p.life);
  run_stop_sequence(p.life);
  EXPECT_EQ(p.count("cleanup"), 1);
  EXPECT_EQ(p.count("report 3,0,0"), 3);
}

// A second stop while the first one's cleanup runs reports stopped only after
// that cleanup; the agent run also waits for it before its own stopped report.
TEST(StopSequence, SecondStopAndTheRunWaitForARunningCleanup) {
  FakePlatform p;
  std::promise<void> cleanupEntered, releaseCleanup;
  std::shared_future<void> release = releaseCleanup.get_future().share();
  p.duringCleanup = [&] {
    cleanupEntered.set_value();
    release.wait();
    p.record("cleanup returns");
  };
  std::promise<void> agentEnded;
  p.duringWait = [&] { agentEnded.get_future().wait(); };

  std::thread runThread([&] { run_agent(p.life); });
  while (p.count("wait") == 0) std::this_thread::yield();
  std::thread firstStop([&] { run_stop_sequence(p.life); });
  cleanupEntered.get_future().wait();
  std::thread secondStop([&] { run_stop_sequence(p.life); });
  agentEnded.set_value();  // the agent's main returns while cleanup still runs
  while (p.count("report 3,0,0") < 2) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(p.count("report 1,0,0"), 0) << "stopped reported while cleanup was still running";
  releaseCleanup.set_value();
  firstStop.join();
  secondStop.join();
  runThread.join();

  const std::vector<std::string> events = p.events();
  const auto cleanupReturned = std::find(events.begin(), events.end(), "cleanup returns");
  ASSERT_NE(cleanupReturned, events.end());
  EXPECT_EQ(std::count(events.begin(), cleanupReturned, "report 1,0,0"), 0);
  EXPECT_EQ(std::count(cleanupReturned, events.end(), "report 1,0,0"), 3);
  EXPECT_EQ(p.count("cleanup"), 1);
}

}  // namespace
