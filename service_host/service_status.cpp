#include "service_status.h"

#include "event_log.h"
#include "wide_text.h"

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

bool send_to_scm(const ServiceStatusRecord& record) {
  SERVICE_STATUS status{};
  status.dwServiceType = record.serviceType;
  status.dwCurrentState = record.currentState;
  status.dwControlsAccepted = record.controlsAccepted;
  status.dwWin32ExitCode = record.win32ExitCode;
  status.dwServiceSpecificExitCode = record.serviceSpecificExitCode;
  status.dwCheckPoint = record.checkPoint;
  status.dwWaitHint = record.waitHint;
  return SetServiceStatus(g_statusHandle, &status) != FALSE;
}

// Never destroyed: a control handler may still report while the process ends.
StatusReporter& make_reporter() {
  StatusReporter& reporter = *new StatusReporter;
  reporter.send = send_to_scm;
  reporter.errorHook = error_hook;
  return reporter;
}

}  // namespace

StatusReporter& process_status_reporter() {
  static StatusReporter& reporter = make_reporter();
  return reporter;
}

void set_status_handle(SERVICE_STATUS_HANDLE handle) {
  std::lock_guard<std::mutex> guard(process_status_reporter().lock);
  g_statusHandle = handle;
}

void enter_debug_mode() {
  StatusReporter& reporter = process_status_reporter();
  std::lock_guard<std::mutex> guard(reporter.lock);
  reporter.debugMode = true;
}

bool report(std::uint32_t state, std::uint32_t win32ExitCode, std::uint32_t waitHint) {
  return report_status(process_status_reporter(), state, win32ExitCode, waitHint);
}

bool report_current(std::uint32_t waitHint) { return report_current_status(process_status_reporter(), waitHint); }

bool report_failure(std::uint32_t serviceSpecificExitCode) {
  return report_failed(process_status_reporter(), serviceSpecificExitCode);
}

void error_hook(const char* text) { agent_error_hook(reinterpret_cast<const char16_t*>(wide_from_ansi(text).c_str())); }

void agent_error_hook(const char16_t* text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
  OutputDebugStringW(wide);
  OutputDebugStringW(L"\n");
  write_error_event(wide);
}
