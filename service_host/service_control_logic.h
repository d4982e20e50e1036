#pragma once

// The service's side of the Service Control Manager protocol: what the
// service main function, the control handler and the service console handler
// do. The platform operations are handed in, so the same steps run against
// the Win32 API in the program and against recordings in the tests.

#include <atomic>
#include <cstdint>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "status_reporter.h"

// Control codes and console events this code tells apart.
constexpr std::uint32_t kControlStop = 1;          // SERVICE_CONTROL_STOP
constexpr std::uint32_t kControlInterrogate = 4;   // SERVICE_CONTROL_INTERROGATE
constexpr std::uint32_t kControlShutdown = 5;      // SERVICE_CONTROL_SHUTDOWN
constexpr std::uint32_t kConsoleCtrlC = 0;         // CTRL_C_EVENT
constexpr std::uint32_t kConsoleCtrlBreak = 1;     // CTRL_BREAK_EVENT
constexpr std::uint32_t kConsoleClose = 2;         // CTRL_CLOSE_EVENT
constexpr std::uint32_t kConsoleLogoff = 5;        // CTRL_LOGOFF_EVENT
constexpr std::uint32_t kConsoleShutdown = 6;      // CTRL_SHUTDOWN_EVENT

// Wait hint of the reports this code sends itself.
constexpr std::uint32_t kControlWaitHintMs = 10000;

struct ServiceControlOps {
  // Registers the control handler under the service name and keeps the
  // status handle for the reporter; false when no handle came back.
  std::function<bool()> registerControlHandler;
  // Adds the service console handler.
  std::function<void()> registerConsoleHandler;
  // Runs the agent until it ends or its start is given up.
  std::function<void(int argc, char** argv)> agentRun;
  // Tells the agent's lifecycle that a stop has come. Called before the first
  // stop-pending report, so that the start cannot report running after it.
  std::function<void()> noteStop;
  // Asks the agent to clean up and reports stopped; returns at the latest
  // when the agent's cleanup is given up.
  std::function<void()> stopSequence;
  // Runs work on a thread of its own and returns at once.
  std::function<void(std::function<void()> work)> startThread;
};

struct ServiceControl {
  StatusReporter* reporter = nullptr;  // not owned
  ServiceControlOps ops;
  std::atomic<bool> stopStarted{false};  // by a stop or shutdown control
};

// The service main function: registers both handlers, reports start pending,
// runs the agent and reports stopped. Without a status handle nothing is
// reported and the agent is not run; when the first report fails the agent
// is not run but the stopped report is still sent.
void run_service_main(ServiceControl& service, int argc, char** argv);

// The control handler: the first stop or shutdown reports stop pending and
// runs the stop sequence on a thread of its own, so that the handler answers
// at once and later controls are answered while the agent cleans up; a later
// one only reports stop pending again. Every other control re-reports the
// current state.
void handle_service_control(ServiceControl& service, std::uint32_t control);

// The service console handler: a shutdown event stops the agent on the
// calling thread and returns true once the stop is done (or the agent's
// cleanup given up; a stop that a control began is waited for); every other event re-reports the current
// state and returns false, so it passes on to the next handler.
bool handle_service_console_event(ServiceControl& service, std::uint32_t event);

// The events that stop a foreground run: Ctrl+C, Ctrl+Break, and the console
// window being closed (the system ends the process a few seconds later; the
// stop gives the agent its cleanup first).
bool stops_foreground_run(std::uint32_t event);

// What the host's console handler does once the JVM exists. It is registered
// after the JVM's own handler, so it is asked first; an event it passes on
// reaches the JVM's handler, which ends the process without the agent's cleanup.
enum class ClaimedConsoleAnswer {
  PassOn,       // return FALSE
  Absorb,       // return TRUE: a logoff is not the agent's end
  RunModeStop,  // the run mode's handler stops the agent (or gives the start up)
};
// In the foreground the stopping events go to the foreground run's handler; in
// service mode a system shutdown goes to the service console handler.
ClaimedConsoleAnswer claimed_console_answer(std::uint32_t event, bool foreground);

// Control handlers still running. The stop sequence's stopped report lets the
// dispatcher return and the process end while a handler (an interrogate, say)
// has not yet answered the SCM; the SCM would then wait out its timeout and
// call the control failed. Before the process ends it waits, briefly, for them.
struct ControlsInProgress {
  std::mutex lock;
  std::condition_variable idle;
  int running = 0;
};

void begin_control(ControlsInProgress& controls);
void end_control(ControlsInProgress& controls);
// True when no control handler runs any more (false after the time limit).
bool wait_until_controls_end(ControlsInProgress& controls, std::chrono::milliseconds limit);
