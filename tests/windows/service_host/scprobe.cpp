// scprobe: asks the Service Control Manager what Wine's sc.exe cannot:
// the registration (QueryServiceConfig and the description), arbitrary
// controls (interrogate, shutdown), and a close watch of the reported
// states with time stamps on the clock of the stand-in JVM's journal.
//
//   scprobe qc NAME
//   scprobe control NAME CODE
//   scprobe watch NAME UNTIL_STATE TIMEOUT_MS
//   scprobe bench NAME SETTLE_MS       start, watch to running, stop, watch to stopped
//   scprobe descsize NAME              type and byte count of the "Description" value
//   scprobe flood NAME SECONDS [HOLD]  interrogate controls, back to back, as a monitor may send;
//                                      none while the file HOLD exists
//
// Output lines are "key=value ..." so that the Python tests and the benchmark
// script can read them. Exit status 0 when the SCM answered, 1 otherwise.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double now_ms() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<double>(ticks - 116444736000000000ULL) / 10000.0;
}

void print_status(const char* event, const SERVICE_STATUS& s) {
  std::printf("t=%.3f %s state=%lu accepted=%lu exit=%lu specific=%lu checkpoint=%lu hint=%lu\n", now_ms(), event,
              s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint,
              s.dwWaitHint);
  std::fflush(stdout);
}

bool same(const SERVICE_STATUS& a, const SERVICE_STATUS& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Polls until the service reports the state after having reported another
// one (a service that is still stopped has not started yet), printing every
// change. A service not yet installed is waited for.
bool watch(SC_HANDLE manager, const char* name, DWORD untilState, double timeoutMs, bool awaitChange = true) {
  const double deadline = now_ms() + timeoutMs;
  SC_HANDLE service = nullptr;
  while (service == nullptr && now_ms() < deadline) {
    service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (service == nullptr) Sleep(1);
  }
  if (service == nullptr) {
    std::printf("t=%.3f open_service_failed error=%lu\n", now_ms(), GetLastError());
    return false;
  }
  SERVICE_STATUS last{};
  bool first = true;
  bool seenOther = !awaitChange;
  bool reached = false;
  for (;;) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) {
      std::printf("t=%.3f query_failed error=%lu\n", now_ms(), GetLastError());
      break;
    }
    if (first || !same(status, last)) print_status("status", status);
    first = false;
    last = status;
    if (status.dwCurrentState != untilState) seenOther = true;
    reached = seenOther && status.dwCurrentState == untilState;
    if (reached || now_ms() >= deadline) break;
    Sleep(1);
  }
  if (!reached) std::printf("t=%.3f timeout\n", now_ms());
  CloseServiceHandle(service);
  return reached;
}

int query_config(SC_HANDLE service) {
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  if (!QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                           static_cast<DWORD>(buffer.size()), &needed)) {
    std::printf("error=%lu\n", GetLastError());
    return 1;
  }
  const QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  std::printf("type=0x%lx\nstart=%lu\nerror_control=%lu\nbinary=%s\naccount=%s\ndisplay=%s\n", config->dwServiceType,
              config->dwStartType, config->dwErrorControl, config->lpBinaryPathName,
              config->lpServiceStartName ? config->lpServiceStartName : "(null)", config->lpDisplayName);
  std::vector<BYTE> described(8192);
  if (QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, described.data(),
                           static_cast<DWORD>(described.size()), &needed)) {
    const SERVICE_DESCRIPTIONA* description = reinterpret_cast<SERVICE_DESCRIPTIONA*>(described.data());
    std::printf("description=%s\n", description->lpDescription ? description->lpDescription : "(null)");
  }
  return 0;
}

// RegQueryValueExA's byte count includes the terminating zero only when it was written.
int description_size(const char* name) {
  const std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + name;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
  DWORD type = 0;
  DWORD size = 0;
  const LONG result = RegQueryValueExA(key, "Description", nullptr, &type, nullptr, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return 1;
  std::printf("type=%lu size=%lu\n", type, size);
  return 0;
}

int control(SC_HANDLE service, DWORD code) {
  SERVICE_STATUS status{};
  std::printf("t=%.3f control_sent code=%lu\n", now_ms(), code);
  if (!ControlService(service, code, &status)) {
    // For a control the state refuses, the SCM fills in the status that refused it.
    std::printf("t=%.3f control_failed error=%lu state=%lu\n", now_ms(), GetLastError(), status.dwCurrentState);
    return 0;
  }
  print_status("control_done", status);
  return 0;
}

// Interrogates the service back to back for the given time and prints each
// state the SCM answers with when it changes (state=0: not installed). Wine's
// SCM kills a service that a control finds running after a stop was sent; that
// answer (ERROR_SERVICE_CANNOT_ACCEPT_CTRL, state running) is printed as
// "killed_while_running". While the file holdPath exists nothing is sent
// ("held" is printed once).
int flood(SC_HANDLE manager, const char* name, double seconds, const char* holdPath) {
  const double deadline = now_ms() + seconds * 1000;
  DWORD lastState = ~0UL;
  SC_HANDLE service = nullptr;
  bool held = false;
  while (now_ms() < deadline) {
    const bool hold = holdPath != nullptr && GetFileAttributesA(holdPath) != INVALID_FILE_ATTRIBUTES;
    if (hold && !held) std::printf("t=%.3f held\n", now_ms());
    held = hold;
    if (hold) {
      std::fflush(stdout);
      Sleep(1);
      continue;
    }
    if (service == nullptr) service = OpenServiceA(manager, name, SERVICE_INTERROGATE | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    DWORD error = ERROR_SERVICE_DOES_NOT_EXIST;
    if (service != nullptr) {
      error = ControlService(service, SERVICE_CONTROL_INTERROGATE, &status) ? ERROR_SUCCESS : GetLastError();
      // Some refusals come without a status: ask for it.
      if (error != ERROR_SUCCESS && status.dwCurrentState == 0 && !QueryServiceStatus(service, &status))
        error = ERROR_SERVICE_DOES_NOT_EXIST;
    }
    if (error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status.dwCurrentState == SERVICE_RUNNING)
      std::printf("t=%.3f killed_while_running\n", now_ms());
    const DWORD state = error == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : status.dwCurrentState;
    if (state != lastState) std::printf("t=%.3f state=%lu\n", now_ms(), state);
    lastState = state;
    std::fflush(stdout);
    // Not answered by the service: let go of the handle, which would keep a
    // removed service marked for deletion, and open it again next time.
    if (error != ERROR_SUCCESS && service != nullptr) {
      CloseServiceHandle(service);
      service = nullptr;
    }
    if (service == nullptr) Sleep(1);
  }
  if (service) CloseServiceHandle(service);
  return 0;
}

int bench(SC_HANDLE manager, const char* name, SC_HANDLE service, DWORD settleMs) {
  std::printf("t=%.3f start_sent\n", now_ms());
  if (!StartServiceA(service, 0, nullptr)) {
    std::printf("t=%.3f start_failed error=%lu\n", now_ms(), GetLastError());
    return 1;
  }
  std::printf("t=%.3f start_done\n", now_ms());
  if (!watch(manager, name, SERVICE_RUNNING, 120000)) return 1;
  Sleep(settleMs);
  control(service, SERVICE_CONTROL_STOP);
  // ControlService returns once the handler has run: the service may be stopped already.
  return watch(manager, name, SERVICE_STOPPED, 120000, false) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: scprobe qc|control|watch|bench|flood NAME ...\n");
    return 2;
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    std::printf("open_manager_failed error=%lu\n", GetLastError());
    return 1;
  }
  int status = 1;
  if (std::strcmp(argv[1], "flood") == 0 && argc > 3) {
    status = flood(manager, argv[2], std::strtod(argv[3], nullptr), argc > 4 ? argv[4] : nullptr);
    CloseServiceHandle(manager);
    return status;
  }
  if (std::strcmp(argv[1], "watch") == 0 && argc > 4) {
    status = watch(manager, argv[2], std::strtoul(argv[3], nullptr, 0), std::strtod(argv[4], nullptr)) ? 0 : 1;
    CloseServiceHandle(manager);
    return status;
  }
  SC_HANDLE service = OpenServiceA(manager, argv[2], SERVICE_ALL_ACCESS);
  if (!service) {
    std::printf("open_service_failed error=%lu\n", GetLastError());
  } else if (std::strcmp(argv[1], "qc") == 0) {
    status = query_config(service);
  } else if (std::strcmp(argv[1], "control") == 0 && argc > 3) {
    status = control(service, std::strtoul(argv[3], nullptr, 0));
  } else if (std::strcmp(argv[1], "descsize") == 0) {
    status = description_size(argv[2]);
  } else if (std::strcmp(argv[1], "bench") == 0 && argc > 3) {
    status = bench(manager, argv[2], service, std::strtoul(argv[3], nullptr, 0));
  }
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return status;
}
