// The service main function, control handler and service console handler,
// driven with recorded platform operations: every report they cause, in order,
// checkpoints included.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "service_control_logic.h"

namespace {

struct Report {
  std::uint32_t state, accepted, checkpoint, waitHint;
  bool operator==(const Report& o) const {
    return state == o.state && accepted == o.accepted && checkpoint == o.checkpoint && waitHint == o.waitHint;
  }
};

std::ostream& operator<<(std::ostream& out, const Report& r) {
  return out << "{state " << r.state << ", accepted " << r.accepted << ", checkpoint " << r.checkpoint
             << ", hint " << r.waitHint << "}";
}

// A service whose platform operations are recordings. The agent run and the
// stop sequence are scripted per test; by default they report what the real
// ones report on a successful start and a stop.
struct RecordedService {
  StatusReporter reporter;
  ServiceControl service;
  std::vector<Report> reports;
  std::vector<ServiceStatusRecord> sent;
  std::vector<std::string> steps;  // operations and reports in order
  std::vector<std::string> errors;
  bool registrationSucceeds = true;
  int sendsToFail = 0;  // the first n sends fail
  std::function<void()> duringAgentRun;

  RecordedService() {
    reporter.send = [this](const ServiceStatusRecord& r) {
      sent.push_back(r);
      reports.push_back({r.currentState, r.controlsAccepted, r.checkPoint, r.waitHint});
      steps.push_back("report " + std::to_string(r.currentState));
      if (sendsToFail > 0) {
        --sendsToFail;
        return false;
      }
      return true;
    };
    reporter.errorHook = [this](const char* text) { errors.push_back(text); };
    service.reporter = &reporter;
    service.ops.registerControlHandler = [this] {
      steps.push_back("register control handler");
      return registrationSucceeds;
    };
    service.ops.registerConsoleHandler = [this] { steps.push_back("register console handler"); };
    service.ops.agentRun = [this](int, char**) {
      steps.push_back("agent run");
      report_status(reporter, kStateStartPending, 0, 0);  // probe finished
      report_status(reporter, kStateRunning, 0, 10000);   // agent launched
      if (duringAgentRun) duringAgentRun();
      report_status(reporter, kStateStopped, 0, 0);  // agent thread ended
    };
    service.ops.noteStop = [this] { steps.push_back("note stop"); };
    service.ops.stopSequence = [this] {
      steps.push_back("stop sequence");
      report_status(reporter, kStateStopPending, 0, 0);
      report_status(reporter, kStateStopped, 0, 0);
    };
    service.ops.startThread = [](std::function<void()> work) { work(); };  // in order, for the tables
  }

  void run_main() {
    char name[] = "KorvaneQuorvexAgent";
    char* argv[] = {name, nullptr};
    run_service_main(service, 1, argv);
  }
};

constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kStopShutdown = 5;

TEST(ServiceMain, StartAndStopControlGiveOneCheckpointSeries) {
  RecordedService s;
  s.duringAgentRun = [&] { handle_service_control(s.service, kControlStop); };
  s.run_main();

  const std::vector<Report> expected = {
      {kStateStartPending, kNone, 1, 10000},       // service main entered
      {kStateStartPending, kNone, 2, 0},           // probe finished
      {kStateRunning, kStopShutdown, 0, 10000},    // agent launched
      {kStateStopPending, kStopShutdown, 3, 10000},  // stop control
      {kStateStopPending, kStopShutdown, 4, 0},    // stop sequence entered
      {kStateStopped, kStopShutdown, 0, 0},        // stop sequence finished
      {kStateStopped, kStopShutdown, 0, 0},        // agent thread ended
      {kStateStopped, kStopShutdown, 0, 0},        // service main returns
  };
  EXPECT_EQ(s.reports, expected);
  for (const ServiceStatusRecord& r : s.sent) {
    EXPECT_EQ(r.serviceType, 0x10u);
    EXPECT_EQ(r.serviceSpecificExitCode, 0u);
    EXPECT_EQ(r.win32ExitCode, 0u);
  }
  const std::vector<std::string> firstSteps = {"register control handler", "register console handler", "report 2",
                                               "agent run"};
  EXPECT_EQ(std::vector<std::string>(s.steps.begin(), s.steps.begin() + 4), firstSteps);
  EXPECT_TRUE(s.errors.empty());
}

TEST(ServiceMain, PassesItsArgumentsToTheAgentRun) {
  RecordedService s;
  char first[] = "KorvaneQuorvexAgent";
  char second[] = "extra";
  char* argv[] = {first, second, nullptr};
  int seenCount = 0;
  char** seenVector = nullptr;
  s.service.ops.agentRun = [&](int argc, char** args) {
    seenCount = argc;
    seenVector = args;
  };
  run_service_main(s.service, 2, argv);
  EXPECT_EQ(seenCount, 2);
  EXPECT_EQ(seenVector, argv);
}

TEST(ServiceMain, AgentEndingByItselfStopsWithoutCleanup) {
  RecordedService s;  // no stop control while the agent runs
  s.run_main();
  const std::vector<Report> expected = {
      {kStateStartPending, kNone, 1, 10000},
      {kStateStartPending, kNone, 2, 0},
      {kStateRunning, kStopShutdown, 0, 10000},
      {kStateStopped, kStopShutdown, 0, 0},
      {kStateStopped, kStopShutdown, 0, 0},
  };
  EXPECT_EQ(s.reports, expected);
  for (const std::string& step : s.steps) EXPECT_NE(step, "stop sequence");
}

// The run's failure stands: service main's own stopped report, a re-report
// and a later stop control all repeat its exit codes.
TEST(ServiceMain, GivenUpStartReportsStoppedTwiceWithItsExitCodes) {
  RecordedService s;
  s.service.ops.agentRun = [&](int, char**) {
    report_status(s.reporter, kStateStartPending, 0, 0);
    report_failed(s.reporter, 1);  // JVM refused
  };
  s.run_main();
  handle_service_control(s.service, kControlInterrogate);
  handle_service_control(s.service, kControlStop);
  const std::vector<Report> expected = {
      {kStateStartPending, kNone, 1, 10000},
      {kStateStartPending, kNone, 2, 0},
      {kStateStopped, kStopShutdown, 0, 0},
      {kStateStopped, kStopShutdown, 0, 0},
      {kStateStopped, kStopShutdown, 0, 10000},
      {kStateStopped, kStopShutdown, 0, 0},
  };
  EXPECT_EQ(s.reports, expected);
  for (size_t i = 2; i < s.sent.size(); ++i) {
    EXPECT_EQ(s.sent[i].win32ExitCode, 1066u) << i;
    EXPECT_EQ(s.sent[i].serviceSpecificExitCode, 1u) << i;
  }
}

TEST(ServiceMain, FailedRegistrationReportsNothingAndRunsNoAgent) {
  RecordedService s;
  s.registrationSucceeds = false;
  s.run_main();
  EXPECT_TRUE(s.reports.empty());
  const std::vector<std::string> steps = {"register control handler", "register console handler"};
  EXPECT_EQ(s.steps, steps);
  // The fixed fields are set all the same, for any later re-report.
  EXPECT_EQ(s.reporter.record.serviceType, 0x10u);
  EXPECT_EQ(s.reporter.record.serviceSpecificExitCode, 0u);
}

TEST(ServiceMain, FailedFirstReportSkipsTheAgentButStillReportsStopped) {
  RecordedService s;
  s.sendsToFail = 1;
  s.run_main();
  const std::vector<Report> expected = {
      {kStateStartPending, kNone, 1, 10000},
      {kStateStopped, kStopShutdown, 0, 0},
  };
  EXPECT_EQ(s.reports, expected);
  for (const std::string& step : s.steps) EXPECT_NE(step, "agent run");
  EXPECT_EQ(s.errors, std::vector<std::string>{"SetServiceStatus"});
}

TEST(ServiceMain, FailedLaterReportsDoNotStopTheRun) {
  RecordedService s;
  bool agentRan = false;
  s.service.ops.agentRun = [&](int, char**) {
    agentRan = true;
    s.sendsToFail = 100;
  };
  s.run_main();
  EXPECT_TRUE(agentRan);
  ASSERT_EQ(s.reports.size(), 2u);
  EXPECT_EQ(s.reports.back().state, kStateStopped);
}

TEST(ControlHandler, InterrogateAndOtherControlsOnlyReReportTheCurrentState) {
  for (std::uint32_t control : {kControlInterrogate, std::uint32_t{0x80}}) {
    SCOPED_TRACE(control);
    RecordedService s;
    std::vector<Report> duringRun;
    s.service.ops.agentRun = [&](int, char**) {
      handle_service_control(s.service, control);  // start pending, before the probe ends
      report_status(s.reporter, kStateStartPending, 0, 0);
      report_status(s.reporter, kStateRunning, 0, 10000);
      handle_service_control(s.service, control);  // running
      duringRun = s.reports;
    };
    s.run_main();
    const std::vector<Report> expected = {
        {kStateStartPending, kNone, 1, 10000},
        {kStateStartPending, kNone, 2, 10000},  // re-report: the next checkpoint
        {kStateStartPending, kNone, 3, 0},
        {kStateRunning, kStopShutdown, 0, 10000},
        {kStateRunning, kStopShutdown, 0, 10000},  // re-report: checkpoint 0
    };
    EXPECT_EQ(duringRun, expected);
    for (const std::string& step : s.steps) EXPECT_NE(step, "stop sequence");
  }
}

TEST(ControlHandler, InterrogateWhileStopPendingTakesTheNextCheckpoint) {
  RecordedService s;
  report_status(s.reporter, kStateRunning, 0, 10000);
  s.service.ops.stopSequence = [&] {
    report_status(s.reporter, kStateStopPending, 0, 0);
    handle_service_control(s.service, kControlInterrogate);  // while cleanup runs
    report_status(s.reporter, kStateStopped, 0, 0);
  };
  handle_service_control(s.service, kControlStop);
  handle_service_control(s.service, kControlInterrogate);  // after the stop
  const std::vector<Report> expected = {
      {kStateRunning, kStopShutdown, 0, 10000},
      {kStateStopPending, kStopShutdown, 1, 10000},
      {kStateStopPending, kStopShutdown, 2, 0},
      {kStateStopPending, kStopShutdown, 3, 10000},
      {kStateStopped, kStopShutdown, 0, 0},
      {kStateStopped, kStopShutdown, 0, 10000},
  };
  EXPECT_EQ(s.reports, expected);
}

TEST(ControlHandler, StopAndShutdownReportStopPendingBeforeTheStopSequence) {
  for (std::uint32_t control : {kControlStop, kControlShutdown}) {
    SCOPED_TRACE(control);
    RecordedService s;
    handle_service_control(s.service, control);
    const std::vector<std::string> steps = {"note stop", "report 3", "stop sequence", "report 3", "report 1"};
    EXPECT_EQ(s.steps, steps);
    EXPECT_EQ(s.reports.front(), (Report{kStateStopPending, kStopShutdown, 1, 10000}));

    // On a thread of its own the stop lets the handler answer at once, and
    // later controls while cleanup runs; a second stop only re-reports.
    RecordedService t;
    std::promise<void> release;
    std::thread stopThread;
    t.service.ops.startThread = [&](std::function<void()> work) { stopThread = std::thread(std::move(work)); };
    t.service.ops.stopSequence = [&, released = release.get_future().share()] {
      released.wait_for(std::chrono::seconds(5));  // a blocking cleanup
      report_status(t.reporter, kStateStopped, 0, 0);
    };
    for (std::uint32_t later : {control, kControlInterrogate, kControlStop}) handle_service_control(t.service, later);
    release.set_value();
    stopThread.join();
    const std::vector<Report> expected = {{kStateStopPending, kStopShutdown, 1, 10000},
                                          {kStateStopPending, kStopShutdown, 2, 10000},
                                          {kStateStopPending, kStopShutdown, 3, 10000},
                                          {kStateStopped, kStopShutdown, 0, 0}};
    EXPECT_EQ(t.reports, expected);
    EXPECT_EQ(std::count(t.steps.begin(), t.steps.end(), "note stop"), 1);
  }
}

TEST(ServiceConsoleHandler, ShutdownEventStopsTheAgentAndIsAnswered) {
  RecordedService s;
  report_status(s.reporter, kStateStartPending, 0, 10000);
  EXPECT_TRUE(handle_service_console_event(s.service, kConsoleShutdown));
  const std::vector<std::string> steps = {"report 2", "note stop", "report 3", "stop sequence", "report 3",
                                          "report 1"};
  EXPECT_EQ(s.steps, steps);
  EXPECT_EQ(s.reports[1], (Report{kStateStopPending, kStopShutdown, 2, 10000}));
}

TEST(ServiceConsoleHandler, OtherEventsReReportAndPassOn) {
  for (std::uint32_t event : {kConsoleCtrlC, std::uint32_t{1}, std::uint32_t{2}, kConsoleLogoff}) {
    SCOPED_TRACE(event);
    RecordedService s;
    report_status(s.reporter, kStateStartPending, 0, 10000);  // logoff before the agent is launched
    EXPECT_FALSE(handle_service_console_event(s.service, event));
    const std::vector<Report> expected = {
        {kStateStartPending, kNone, 1, 10000},
        {kStateStartPending, kNone, 2, 10000},
    };
    EXPECT_EQ(s.reports, expected);
    for (const std::string& step : s.steps) EXPECT_NE(step, "stop sequence");
  }
}

// The host's handler in front of the JVM's: the events that stop the agent go
// to the run mode's handler (in service mode the service console handler
// above, which gives a start up or waits for a running cleanup); a logoff is
// absorbed; the rest passes on to the JVM's handler.
TEST(ClaimedConsoleHandler, HandsTheRunModesStopEventsToItsHandler) {
  using A = ClaimedConsoleAnswer;
  const struct {
    std::uint32_t event;
    A foreground, service;
  } rows[] = {
      {kConsoleCtrlC, A::RunModeStop, A::PassOn},    {kConsoleCtrlBreak, A::RunModeStop, A::PassOn},
      {kConsoleClose, A::RunModeStop, A::PassOn},    {kConsoleLogoff, A::Absorb, A::Absorb},
      {kConsoleShutdown, A::Absorb, A::RunModeStop}, {std::uint32_t{3}, A::PassOn, A::PassOn},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.event);
    EXPECT_EQ(claimed_console_answer(row.event, true), row.foreground);
    EXPECT_EQ(claimed_console_answer(row.event, false), row.service);
  }
}

}  // namespace

#include <thread>

namespace {

TEST(ControlsInProgress, WaitEndsWhenTheLastHandlerHasAnswered) {
  ControlsInProgress controls;
  EXPECT_TRUE(wait_until_controls_end(controls, std::chrono::milliseconds(0)));
  begin_control(controls);
  begin_control(controls);
  end_control(controls);
  EXPECT_FALSE(wait_until_controls_end(controls, std::chrono::milliseconds(20)));  // one still runs
  std::thread handler([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    end_control(controls);
  });
  EXPECT_TRUE(wait_until_controls_end(controls, std::chrono::seconds(10)));
  handler.join();
}

}  // namespace
