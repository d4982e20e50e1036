#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "status_reporter.h"

namespace {

struct RecordingReporter {
  StatusReporter reporter;
  std::vector<ServiceStatusRecord> sent;
  std::vector<std::string> hookTexts;
  bool sendSucceeds = true;

  RecordingReporter() {
    reporter.send = [this](const ServiceStatusRecord& record) {
      sent.push_back(record);
      return sendSucceeds;
    };
    reporter.errorHook = [this](const char* text) { hookTexts.emplace_back(text); };
    set_fixed_status_fields(reporter);
  }
};

TEST(StatusReporter, CheckpointsRunAcrossStartAndStopAndAreZeroWhenSettled) {
  RecordingReporter r;
  report_status(r.reporter, kStateStartPending, 0, 10000);
  report_status(r.reporter, kStateStartPending, 0, 0);
  report_status(r.reporter, kStateRunning, 0, 10000);
  report_status(r.reporter, kStateStopPending, 0, 10000);
  report_status(r.reporter, kStateStopPending, 0, 0);
  report_status(r.reporter, kStateStopped, 0, 0);

  ASSERT_EQ(r.sent.size(), 6u);
  const std::uint32_t expectedCheckpoints[] = {1, 2, 0, 3, 4, 0};
  const std::uint32_t expectedControls[] = {0, 0, 5, 5, 5, 5};
  const std::uint32_t expectedHints[] = {10000, 0, 10000, 10000, 0, 0};
  for (size_t i = 0; i < r.sent.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(r.sent[i].checkPoint, expectedCheckpoints[i]);
    EXPECT_EQ(r.sent[i].controlsAccepted, expectedControls[i]);
    EXPECT_EQ(r.sent[i].waitHint, expectedHints[i]);
    EXPECT_EQ(r.sent[i].serviceType, kServiceWin32OwnProcess);
    EXPECT_EQ(r.sent[i].serviceSpecificExitCode, 0u);
    EXPECT_EQ(r.sent[i].win32ExitCode, 0u);
  }
  EXPECT_EQ(r.sent[2].currentState, kStateRunning);
  EXPECT_EQ(r.sent[5].currentState, kStateStopped);
  EXPECT_TRUE(r.hookTexts.empty());
}

TEST(StatusReporter, ReReportKeepsTheStateAndAPendingStateTakesTheNextCheckpoint) {
  RecordingReporter r;
  report_status(r.reporter, kStateStartPending, 0, 10000);
  report_current_status(r.reporter, 10000);
  report_status(r.reporter, kStateRunning, 0, 10000);
  report_current_status(r.reporter, 10000);

  ASSERT_EQ(r.sent.size(), 4u);
  EXPECT_EQ(r.sent[1].currentState, kStateStartPending);
  EXPECT_EQ(r.sent[1].checkPoint, 2u);
  EXPECT_EQ(r.sent[1].controlsAccepted, 0u);
  EXPECT_EQ(r.sent[3].currentState, kStateRunning);
  EXPECT_EQ(r.sent[3].checkPoint, 0u);
  EXPECT_EQ(r.sent[3].controlsAccepted, 5u);
  EXPECT_EQ(r.sent[3].waitHint, 10000u);
}

TEST(StatusReporter, DebugModeIsSilentAndSucceeds) {
  RecordingReporter r;
  r.reporter.debugMode = true;
  r.sendSucceeds = false;
  EXPECT_TRUE(report_status(r.reporter, kStateStartPending, 0, 10000));
  EXPECT_TRUE(report_current_status(r.reporter, 10000));
  EXPECT_TRUE(r.sent.empty());
  EXPECT_TRUE(r.hookTexts.empty());
  EXPECT_EQ(r.reporter.checkpointCounter, 1);
}

TEST(StatusReporter, AFailedSendGoesToTheErrorHook) {
  RecordingReporter r;
  r.sendSucceeds = false;
  EXPECT_FALSE(report_status(r.reporter, kStateStopped, 0, 0));
  ASSERT_EQ(r.hookTexts.size(), 1u);
  EXPECT_EQ(r.hookTexts[0], "SetServiceStatus");
}

// A send that throws fails like any other and still passes its turn on: the
// next report, from another thread, is sent (on a detached thread: a kept
// turn fails the test instead of hanging it).
TEST(StatusReporter, ASendThatThrowsFailsAndPassesItsTurnOn) {
  auto r = std::make_shared<RecordingReporter>();
  auto send = r->reporter.send;
  r->reporter.send = [send, thrown = false](const ServiceStatusRecord& record) mutable {
    if (!std::exchange(thrown, true)) throw std::runtime_error("send");
    return send(record);
  };
  EXPECT_FALSE(report_status(r->reporter, kStateStopPending, 0, 0));
  EXPECT_EQ(r->hookTexts, std::vector<std::string>{"SetServiceStatus"});
  std::packaged_task<bool()> report([r] { return report_status(r->reporter, kStateStopped, 0, 0); });
  std::future<bool> next = report.get_future();
  std::thread(std::move(report)).detach();
  ASSERT_EQ(next.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the turn was kept";
  EXPECT_TRUE(next.get());
  ASSERT_EQ(r->sent.size(), 1u);
}

TEST(StatusReporter, ConcurrentReportsAreSentInTheOrderTheyWereFilled) {
  StatusReporter reporter;
  std::vector<std::uint32_t> checkpoints;
  std::mutex checkpointsLock;
  reporter.send = [&](const ServiceStatusRecord& record) {
    // As slow as the system's: a later report could overtake this one.
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    std::lock_guard<std::mutex> guard(checkpointsLock);
    checkpoints.push_back(record.checkPoint);
    return true;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) report_status(reporter, kStateStopPending, 0, 0);
    });
  for (auto& thread : threads) thread.join();
  // Checkpoints are taken as reports are filled: sent in that order, they run 1, 2, 3, ...
  ASSERT_EQ(checkpoints.size(), 1000u);
  for (std::uint32_t i = 0; i < checkpoints.size(); ++i) ASSERT_EQ(checkpoints[i], i + 1) << "send " << i;
}

// Wine holds a stopped report until the running control handler, which may be
// re-reporting, has returned. On its own thread, so a deadlock fails, not hangs.
TEST(StatusReporter, ReReportWhileTheStoppedReportIsHeldDoesNotWaitForIt) {
  struct Scenario {
    StatusReporter reporter;
    std::vector<std::uint32_t> sent;  // the states, in order
    std::atomic<bool> stoppedHeld{false};
    std::promise<void> reReported;
  };
  auto s = std::make_shared<Scenario>();
  std::shared_future<void> released = s->reReported.get_future().share();
  s->reporter.send = [raw = s.get(), released](const ServiceStatusRecord& record) {
    raw->sent.push_back(record.currentState);
    if (record.currentState == kStateStopped && !raw->stoppedHeld.exchange(true)) released.wait();
    return true;
  };
  std::packaged_task<void()> scenario([s] {
    report_status(s->reporter, kStateRunning, 0, 10000);
    std::thread run([s] { report_status(s->reporter, kStateStopped, 0, 0); });
    while (!s->stoppedHeld) std::this_thread::yield();
    report_current_status(s->reporter, 10000);            // the control handler
    report_status(s->reporter, kStateStopPending, 0, 0);  // a stop right after: left out
    s->reReported.set_value();
    run.join();
  });
  std::future<void> finished = scenario.get_future();
  std::thread(std::move(scenario)).detach();
  ASSERT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "deadlock";
  EXPECT_EQ(s->sent, (std::vector<std::uint32_t>{kStateRunning, kStateStopped, kStateStopped}));
}

}  // namespace
