#pragma once

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
// console event threads): the lock makes each fill-and-send one step.
struct StatusReporter {
  std::mutex lock;
  ServiceStatusRecord record;
  std::int32_t checkpointCounter = 1;
  bool debugMode = false;  // set once by the debug run mode; reports are then silent
  StatusSender send;
  ErrorHook errorHook;
};

// Fills the record for (state, win32ExitCode, waitHint) and sends it.
// Silent (returns true) in debug mode. Pending states take the next
// checkpoint from the counter; running and stopped carry checkpoint 0.
// Controls accepted are none while start pending, stop and shutdown otherwise.
// A failed send hands "SetServiceStatus" to the error hook; returns the send's result.
bool report_status(StatusReporter& reporter, std::uint32_t state, std::uint32_t win32ExitCode,
                   std::uint32_t waitHint);

// Re-sends the current state with the given wait hint (under the same rules).
bool report_current_status(StatusReporter& reporter, std::uint32_t waitHint);

// Sets the fields that stay fixed for the service's life: own-process type
// and service-specific exit code 0.
void set_fixed_status_fields(StatusReporter& reporter);
