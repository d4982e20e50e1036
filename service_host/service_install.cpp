#include "service_install.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "access_check.h"
#include "error_text.h"
#include "event_log.h"
#include "install_text.h"
#include "service_identity.h"
#include "system_message.h"
#include "win_handle.h"

namespace {

constexpr char kServiceKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kDescription[] = "Monitors Korvane storage controllers and provides remote management capabilities.";
constexpr DWORD kInstallPauseMs = 2000;
constexpr DWORD kStopPollMs = 1000;

// The last-error text is composed into this one buffer; every call overwrites it.
char g_lastErrorText[kLastErrorTextSize];

// The system's text for code, as "<text> (0x<code>)".
const char* system_error_text(DWORD code) {
  const SystemMessage message(code, FORMAT_MESSAGE_ARGUMENT_ARRAY);  // the flags these lines always had
  compose_last_error_text(message.text(), code, g_lastErrorText, sizeof g_lastErrorText);
  return g_lastErrorText;
}

// The code is taken once, so the text and the number always agree.
const char* last_error_text() { return system_error_text(GetLastError()); }

// Console lines are flushed at once, so the dots of a slow stop show as they come.
void print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

// Writes the "Description" value of the service's registry key; 1 on success.
int set_description() {
  const std::string keyPath = std::string(kServiceKeyPrefix) + kServiceName;
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_WRITE, key.receive()) != ERROR_SUCCESS) return 0;
  const LONG result = RegSetValueExA(key.get(), "Description", 0, REG_SZ, reinterpret_cast<const BYTE*>(kDescription),
                                     static_cast<DWORD>(sizeof kDescription));  // terminating zero counted
  return result == ERROR_SUCCESS ? 1 : 0;
}

// Sets what the SCM does when the service fails (recovery_settings). Silent
// like the description: a refusal changes nothing else (Wine takes the
// actions but refuses the flag).
void set_recovery(SC_HANDLE service) {
  const RecoverySettings settings = recovery_settings();
  std::vector<SC_ACTION> actions;
  for (const RecoveryAction& action : settings.actions)
    actions.push_back(SC_ACTION{action.restart ? SC_ACTION_RESTART : SC_ACTION_NONE, action.delayMs});
  SERVICE_FAILURE_ACTIONSA failureActions{};
  failureActions.dwResetPeriod = settings.resetPeriodS;
  failureActions.cActions = static_cast<DWORD>(actions.size());
  failureActions.lpsaActions = actions.data();
  ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions);
  SERVICE_FAILURE_ACTIONS_FLAG flag{settings.onNonCrashFailures ? TRUE : FALSE};
  ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
}

// Registers the service and starts it; the caller pauses afterwards.
void create_and_start(const char* modulePath) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    print("OpenSCManager failed - %s\n", last_error_text());
    return;
  }
  const std::string binaryPath = quoted_binary_path(modulePath);
  static const char kNoDependencies[] = "\0";  // a list that ends at once
  ServiceHandle service(CreateServiceA(manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, kNoDependencies,
                                  nullptr, nullptr));
  if (!service) {
    print("CreateService failed - %s\n", last_error_text());
    return;
  }
  set_description();  // a description that cannot be written is not worth a message
  set_recovery(service.get());
  register_event_source(modulePath);  // nor is an event source
  print("%s installed.\n", kDisplayName);
  if (StartServiceA(service.get(), 0, nullptr)) print("Service started.\n");
}

}  // namespace

void install_service() {
  char modulePath[kModulePathSize];
  const DWORD length = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
  if (!module_path_complete(length, sizeof modulePath)) {
    // A path that fills the buffer was cut short; registering it would name another program.
    const DWORD code = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    print("Unable to install %s - %s\n", kDisplayName, system_error_text(code));
    return;
  }
  create_and_start(modulePath);
  // The service runs this program, and loads from its folder, as LocalSystem.
  const std::string program(modulePath, length);
  std::string folder = program.substr(0, program.find_last_of('\\'));
  if (folder.back() == ':') folder += '\\';  // a drive's root
  for (const AccessFinding& finding : find_changeable({folder, program}))
    print("%s", install_access_warning(finding).c_str());
  Sleep(kInstallPauseMs);
}

void remove_service() {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    print("OpenSCManager failed - %s\n", last_error_text());
    return;
  }
  ServiceHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (!service) {
    print("Service not present - %s\n", last_error_text());
    return;
  }
  SERVICE_STATUS status{};
  // A starting service refuses the stop and would only be marked for deletion,
  // running on: wait for its start to end, with no limit, as for the stop.
  bool waitedForStart = false;
  while (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_START_PENDING) {
    print(".");
    waitedForStart = true;
    Sleep(kStopPollMs);
  }
  if (waitedForStart) print("\n");
  // A service that does not run refuses the stop; removal goes on silently.
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    print("Stopping %s.", kDisplayName);
    Sleep(kStopPollMs);
    // No limit of its own: the service gives the agent's cleanup up after kCleanupLimit.
    while (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOP_PENDING) {
      print(".");
      Sleep(kStopPollMs);
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
      print("\n%s stopped.\n", kDisplayName);
    else
      print("\n%s failed to stop.\n", kDisplayName);
  }
  if (DeleteService(service.get())) {
    print("%s removed.\n", kDisplayName);
    remove_event_source();  // a service that stays keeps its event source
  } else {
    print("DeleteService failed - %s\n", last_error_text());
  }
}
