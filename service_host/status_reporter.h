#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// Service states as the Service Control Manager numbers them.
constexpr std::uint32_t kStateStopped = 1;
constexpr std::uint32_t kStateStartPending = 2;
constexpr std::uint32_t kStateStopPending = 3;
constexpr std::uint32_t kStateRunning = 4;

constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
// SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
constexpr std::uint32_t kAcceptStopAndShutdown = 0x5;
// The Win32 exit code of a service that failed: its own code says how.
constexpr std::uint32_t kErrorServiceSpecificError = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR

// The fields of the platform's SERVICE_STATUS, in its order.
struct ServiceStatusRecord {
  std::uint32_t serviceType = 0;
  std::uint32_t currentState = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
};

// Sends a filled record to the SCM; true on success.
using StatusSender = std::function<bool(const ServiceStatusRecord&)>;
// Receives the text of a failure; prints nothing.
using ErrorHook = std::function<void(const char*)>;

// The process's one status record with what fills and sends it. Reports come
// from several threads (the service main thread, the dispatcher thread and
// console event threads).
//
// No lock is held while a report is sent. A platform may hold the stopped
// report until the running control handler has returned (Wine does), and that
// handler may itself be making a report. So each report is filled under the
// lock and takes the next turn; it sends when its turn has come, without the
// lock, and passes the turn on when its send is done, which keeps the SCM
// seeing the reports in the order they were made. A stopped report passes
// the turn on before it sends: nothing may queue behind a send that can wait
// for a control handler. Once stopped has been filled, only stopped is sent:
// a later report of another state is left out (the service has stopped; it
// counts as done), and a re-report of the current state says stopped. The
// first stopped report decides the exit codes: a later one (the service main
// function's last, say) repeats them, so that a failure is not turned into a
// clean stop.
struct StatusReporter {
  std::mutex lock;
  std::condition_variable turnPassed;
  ServiceStatusRecord record;
  std::int32_t checkpointCounter = 1;
  std::uint64_t nextTurn = 0;     // taken by the next report filled
  std::uint64_t sendingTurn = 0;  // the report whose send is due
  bool stoppedFilled = false;
  bool debugMode = false;  // set once by the debug run mode; reports are then silent
  StatusSender send;
  ErrorHook errorHook;
};

// Fills the record for (state, win32ExitCode, waitHint) and sends it.
// Silent (returns true) in debug mode. Pending states take the next
// checkpoint from the counter; running and stopped carry checkpoint 0.
// Controls accepted are none while start pending, stop and shutdown otherwise.
// A failed send hands "SetServiceStatus" to the error hook; returns the send's
// result (true for a report left out after stopped).
bool report_status(StatusReporter& reporter, std::uint32_t state, std::uint32_t win32ExitCode,
                   std::uint32_t waitHint);

// Reports stopped for a service that failed: Win32 exit code
// ERROR_SERVICE_SPECIFIC_ERROR with serviceSpecificExitCode (nonzero).
bool report_failed(StatusReporter& reporter, std::uint32_t serviceSpecificExitCode);

// Re-sends the current state with the given wait hint (under the same rules).
bool report_current_status(StatusReporter& reporter, std::uint32_t waitHint);

// Sets the fields that stay fixed for the service's life: own-process type
// and service-specific exit code 0.
void set_fixed_status_fields(StatusReporter& reporter);
