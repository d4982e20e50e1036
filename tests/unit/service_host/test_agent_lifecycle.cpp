#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent_lifecycle.h"
#include "failure_text.h"
#include "launch_record.h"
#include "status_reporter.h"

namespace {

// Hooks that record what the lifecycle asks of the platform, in order.
struct FakePlatform {
  AgentLifecycle life;
  std::mutex logLock;
  std::vector<std::string> log;
  int probeRuns = 0;
  int succeedOnRun = 1;  // 0: never
  int failedProbe = 1;   // what the other runs return
  bool jvmCreated = true;
  AgentEnd agentEnd = AgentEnd::Returned;  // how the agent thread ends
  std::function<void()> duringPause, duringCreate, duringWait, duringCleanup;
  // A stop from another thread at the first event named stopAt, as the
  // platform delivers one. From that hook on, the run waits for the stop to
  // end, except in the hooks it calls holding the lock that the stop needs.
  std::string stopAt;
  std::atomic<bool> stopStarted{false};
  std::thread::id runThread;  // written before stopStarted
  std::thread stopThread;
  std::promise<void> stopEnded;
  std::shared_future<void> stopDone = stopEnded.get_future().share();

  bool cleanupHeld = false;  // cleanup returns only when the test ends
  std::promise<void> releaseCleanup;

  ~FakePlatform() {
    if (stopThread.joinable()) stopThread.join();
    releaseCleanup.set_value();
    // The cleanup's own thread uses life until it has said it returned.
    std::unique_lock<std::mutex> guard(life.lock);
    life.cleanupDone.wait(guard, [&] { return !life.cleanupClaimed || life.cleanupReturned; });
  }

  static bool run_holds_the_lock(const std::string& event) {
    return event == "report 2,0,0" || event == "report 4,0,10000" || event == "launch";
  }

  void record(const std::string& event) {
    {
      std::lock_guard<std::mutex> guard(logLock);
      log.push_back(event);
    }
    if (event == stopAt && !stopStarted) {
      runThread = std::this_thread::get_id();
      stopStarted = true;
      stopThread = std::thread([this] {
        run_stop_sequence(life);
        stopEnded.set_value();
      });
    }
    if (stopStarted && std::this_thread::get_id() == runThread && !run_holds_the_lock(event)) stopDone.wait();
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
      return probeRuns == succeedOnRun ? 0 : failedProbe;
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
    h.reportFailed = [this](std::uint32_t code) {
      record("report 1,1066,0 code " + std::to_string(code));
      return true;
    };
    h.createJvm = [this] {
      record("create jvm");
      if (duringCreate) duringCreate();
      return jvmCreated;
    };
    h.beep = [this](unsigned hz, unsigned ms) { record("beep " + std::to_string(hz) + "/" + std::to_string(ms)); };
    h.launchAgent = [this] { record("launch"); };
    h.claimConsole = [this] { record("claim console"); };
    h.waitForAgentEnd = [this] {
      record("wait");
      if (duringWait) duringWait();
      return agentEnd;
    };
    h.callCleanup = [this] {
      record("cleanup");
      if (duringCleanup) duringCleanup();
      if (cleanupHeld) releaseCleanup.get_future().wait();
    };
    h.fail = [this](const char* text) { record(std::string("fail ") + text); };
  }
};

const std::vector<std::string> kGivenUp = {"report 1,1066,0 code 1", "beep 2000/500"};
const std::vector<std::string> kGivenUpForAStop = {"report 1,0,0", "beep 2000/500"};
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
  const std::vector<std::string> expected = {"probe",         "report 2,0,0",     "create jvm",
                                             "claim console", "beep 5000/125",    "report 4,0,10000",
                                             "launch",        "wait",             "report 1,0,0"};
  EXPECT_EQ(p.events(), expected);
}

TEST(AgentRun, ProbeNeverAnsweringGivesUpAfter31RunsAnd30PausesButStillCreatesTheJvm) {
  FakePlatform p;
  p.succeedOnRun = 0;
  run_agent(p.life);
  EXPECT_EQ(p.count("probe"), 31);
  EXPECT_EQ(p.count("pause 10000"), 30);
  EXPECT_EQ(p.count("create jvm"), 1);
  EXPECT_EQ(p.count("claim console"), 1);  // the JVM exists, with its console handler
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

// A missing or foreign ping gives up at once, without a JVM; a passing fault
// (Wine's process creation under load: 0x54f, short of memory) is one more try.
TEST(AgentRun, OnlyALastingPingStartFailureGivesUpAtOnce) {
  FakePlatform p;
  p.succeedOnRun = 0;
  p.failedProbe = kProbeNotStarted;
  run_agent(p.life);
  EXPECT_EQ(p.events(), (std::vector<std::string>{"probe", "report 1,1066,0 code 1", "beep 2000/500"}));
  for (std::uint32_t code : {2u, 3u, 5u, 193u, 216u}) EXPECT_TRUE(probe_start_failure_lasts(code)) << code;
  for (std::uint32_t code : {0x54fu, 8u, 1450u}) EXPECT_FALSE(probe_start_failure_lasts(code)) << code;
}

TEST(AgentRun, RefusedJvmGivesUpWithTheLowTone) {
  FakePlatform p;
  p.jvmCreated = false;
  run_agent(p.life);
  EXPECT_EQ(p.count("claim console"), 0);
  EXPECT_EQ(p.count("launch"), 0);
  EXPECT_EQ(p.count("report 4,0,10000"), 0);
  EXPECT_EQ(tail(p.events(), 2), kGivenUp);
}

// A main that returned is a clean stop; one that threw, or never ran, a failure.
TEST(AgentRun, AgentEndingByItselfReportsStoppedWithoutCleanup) {
  for (const auto& [end, report] : {std::pair(AgentEnd::Returned, "report 1,0,0"),
                                    std::pair(AgentEnd::Threw, "report 1,1066,0 code 2"),
                                    std::pair(AgentEnd::NotStarted, "report 1,1066,0 code 1")}) {
    FakePlatform p;
    p.agentEnd = end;
    run_agent(p.life);
    EXPECT_EQ(p.count("cleanup"), 0);
    EXPECT_EQ(p.events().back(), report);
  }
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
  EXPECT_EQ(tail(p.events(), 2), kGivenUpForAStop);
  // The stop's own reports.
  EXPECT_EQ(p.count("report 3,0,10000"), 1);
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
  EXPECT_EQ(tail(p.events(), 2), kGivenUpForAStop);
  EXPECT_EQ(failures(p.events()), 0);
}

TEST(StopSequence, StopDuringJvmCreationGivesUpAndNeverLaunches) {
  FakePlatform p;
  p.duringCreate = [&] { run_stop_sequence(p.life); };
  run_agent(p.life);
  EXPECT_EQ(p.count("launch"), 0);
  EXPECT_EQ(p.count("cleanup"), 0);
  EXPECT_EQ(tail(p.events(), 2), kGivenUpForAStop);
}

// A stop at every moment of the start. Before the launch it gives the start
// up: no launch, no running report, the low tone. After it, cleanup is called
// once, unless the agent had already ended. Either way nothing reports start
// pending or running after the stop's stop-pending report, and the stop and
// the run each report stopped once.
TEST(StopSequence, StopAtEveryMomentOfTheStart) {
  const struct {
    const char* event;
    bool launched;
    bool cleanup;
  } moments[] = {
      {"probe", false, false},        {"pause 10000", false, false},   {"report 2,0,0", false, false},
      {"create jvm", false, false},   {"claim console", false, false}, {"beep 5000/125", false, false},
      {"report 4,0,10000", true, true}, {"launch", true, true},        {"wait", true, true},
      {"report 1,0,0", true, false},  // the agent's main has returned by itself
  };
  for (const auto& moment : moments) {
    SCOPED_TRACE(moment.event);
    FakePlatform p;
    p.succeedOnRun = 2;  // one pause
    p.stopAt = moment.event;
    // A main that throws once a stop has come still ends a stop: exit code 0.
    p.agentEnd = moment.cleanup ? AgentEnd::Threw : AgentEnd::Returned;
    run_agent(p.life);
    p.stopThread.join();
    const std::vector<std::string> events = p.events();
    auto count = [&](const char* event) { return std::count(events.begin(), events.end(), event); };
    EXPECT_EQ(count("launch"), moment.launched ? 1 : 0);
    EXPECT_EQ(count("report 4,0,10000"), moment.launched ? 1 : 0);
    EXPECT_EQ(count("cleanup"), moment.cleanup ? 1 : 0);
    EXPECT_EQ(count("beep 2000/500"), moment.launched ? 0 : 1);
    EXPECT_EQ(count("report 3,0,10000"), 1);
    EXPECT_EQ(count("report 1,0,0"), 2);
    const auto stopPending = std::find(events.begin(), events.end(), "report 3,0,10000");
    EXPECT_EQ(std::count(stopPending, events.end(), "report 2,0,0"), 0);
    EXPECT_EQ(std::count(stopPending, events.end(), "report 4,0,10000"), 0);
    EXPECT_EQ(std::count(stopPending, events.end(), "launch"), 0);
  }
}

TEST(StopSequence, StopAfterAFailedStartSkipsTheJvm) {
  FakePlatform p;
  p.jvmCreated = false;
  run_agent(p.life);
  run_stop_sequence(p.life);
  EXPECT_EQ(p.count("cleanup"), 0);
  EXPECT_EQ(tail(p.events(), 3), (std::vector<std::string>{"report 3,0,10000", "wake", "report 1,0,0"}));
}

TEST(StopSequence, StopWhileRunningCallsCleanupBetweenItsReports) {
  FakePlatform p;
  p.duringWait = [&] { run_stop_sequence(p.life); };
  run_agent(p.life);
  const std::vector<std::string> expected = {"wait", "report 3,0,10000", "wake", "cleanup", "report 1,0,0",
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
  EXPECT_EQ(p.count("report 3,0,10000"), 3);
}

// The stop that called cleanup reports stopped before the run does: the
// platform may hold the run's report until the stop's handler has returned.
TEST(StopSequence, TheRunReportsStoppedOnlyAfterTheStopThatCalledCleanup) {
  FakePlatform p;
  static thread_local bool onStopThread = false;
  std::promise<void> agentEnded;
  p.duringWait = [&] { agentEnded.get_future().wait(); };
  p.duringCleanup = [&] { agentEnded.set_value(); };  // cleanup makes the agent's main return
  const auto report = p.life.hooks.report;
  p.life.hooks.report = [&p, report](std::uint32_t state, std::uint32_t exitCode, std::uint32_t hint) {
    if (state != kStateStopped) return report(state, exitCode, hint);
    if (onStopThread) std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a slow send
    p.record(onStopThread ? "stop reported stopped" : "run reported stopped");
    return true;
  };
  std::thread runThread([&] { run_agent(p.life); });
  while (p.count("wait") == 0) std::this_thread::yield();
  std::thread stopThread([&] {
    onStopThread = true;
    run_stop_sequence(p.life);
  });
  stopThread.join();
  runThread.join();
  EXPECT_EQ(tail(p.events(), 2), (std::vector<std::string>{"stop reported stopped", "run reported stopped"}));
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
  while (p.count("report 3,0,10000") < 2) std::this_thread::yield();
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

// A cleanup that never returns: stop pending re-reported, then at the limit one
// event and stopped; a second stop and the ended run wait for that only.
TEST(StopSequence, CleanupThatNeverReturnsIsGivenUpAtTheLimit) {
  FakePlatform p;
  p.life.timing = {std::chrono::milliseconds(300), std::chrono::milliseconds(40)};
  p.cleanupHeld = true;
  std::promise<void> cleanupEntered;
  p.duringCleanup = [&] { cleanupEntered.set_value(); };
  p.duringWait = [&] { cleanupEntered.get_future().wait(); };  // main returns by itself
  std::thread runThread([&] { run_agent(p.life); });
  while (p.count("wait") == 0) std::this_thread::yield();
  const auto began = std::chrono::steady_clock::now();
  auto first = std::async(std::launch::async, [&] { return run_stop_sequence(p.life); });
  while (p.count("cleanup") == 0) std::this_thread::yield();
  EXPECT_EQ(run_stop_sequence(p.life), StopOutcome::Done);  // the second stop
  EXPECT_EQ(first.get(), StopOutcome::CleanupGivenUp);
  const auto took = std::chrono::steady_clock::now() - began;
  EXPECT_TRUE(took >= p.life.timing.cleanupLimit && took < std::chrono::seconds(3));
  runThread.join();

  const std::vector<std::string> events = p.events();
  const auto givenUp = std::find(events.begin(), events.end(), "fail " + std::string(cleanup_given_up(kAgentClassName, 1).text));
  ASSERT_NE(givenUp, events.end());
  EXPECT_EQ(failures(events), 1);
  EXPECT_GE(std::count(events.begin(), givenUp, "report 3,0,80"), 2 + 2);  // both stops, then re-reports
  EXPECT_EQ(std::count(events.begin(), givenUp, "report 1,0,0"), 0);
  EXPECT_EQ(std::count(givenUp, events.end(), "report 1,0,0"), 3);
}

TEST(StopSequence, CleanupReturningLateButBeforeTheLimitIsWaitedFor) {
  FakePlatform p;
  p.life.timing = {std::chrono::milliseconds(1000), std::chrono::milliseconds(100)};
  StopOutcome outcome = StopOutcome::CleanupGivenUp;
  p.duringWait = [&] { outcome = run_stop_sequence(p.life); };
  p.duringCleanup = [&] {  // returns after six re-reports, about 600 ms in
    for (int i = 0; i < 400 && p.count("report 3,0,200") < 1 + 6; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  run_agent(p.life);
  EXPECT_EQ(outcome, StopOutcome::Done);
  EXPECT_EQ(failures(p.events()), 0);
}

}  // namespace
