// A stand-in for the product's web server and agent services in the Wine
// tests. It records every start and stop as a line ("start <name>",
// "stop <name>") in a journal file, so a test can check their order.
//
//   standin_service install <name> <journal>   registers itself (demand start)
//   standin_service remove <name>              stops (if running) and deletes
//   standin_service run <name> <journal>       the service process (from the SCM)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string g_name;
std::string g_journal;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;

void record(const char* event) {
  std::FILE* journal = std::fopen(g_journal.c_str(), "a");
  if (journal != nullptr) {
    std::fprintf(journal, "%s %s\n", event, g_name.c_str());
    std::fclose(journal);
  }
}

void report(DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    record("stop");
    report(SERVICE_STOPPED);
    SetEvent(g_stop_event);
  }
  return NO_ERROR;
}

void WINAPI service_main(DWORD, char**) {
  g_status_handle = RegisterServiceCtrlHandlerExA(g_name.c_str(), control_handler, nullptr);
  if (g_status_handle == nullptr) {
    return;
  }
  record("start");
  report(SERVICE_RUNNING);
  WaitForSingleObject(g_stop_event, INFINITE);
}

int install(const char* name, const char* journal) {
  char self[MAX_PATH];
  if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) {
    return 1;
  }
  const std::string command = std::string("\"") + self + "\" run " + name + " \"" + journal + "\"";
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    std::printf("OpenSCManager failed: %lu\n", GetLastError());
    return 1;
  }
  SC_HANDLE service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
  const DWORD error = GetLastError();
  CloseServiceHandle(manager);
  if (service == nullptr) {
    std::printf("CreateService %s failed: %lu\n", name, error);
    return 1;
  }
  CloseServiceHandle(service);
  return 0;
}

int remove_service(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    return 1;
  }
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    CloseServiceHandle(manager);
    return 0;  // already gone
  }
  SERVICE_STATUS status = {};
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    for (int i = 0; i < 50 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i) {
      Sleep(100);
    }
  }
  const BOOL deleted = DeleteService(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return deleted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "install") == 0) {
    return install(argv[2], argv[3]);
  }
  if (argc == 3 && std::strcmp(argv[1], "remove") == 0) {
    return remove_service(argv[2]);
  }
  if (argc == 4 && std::strcmp(argv[1], "run") == 0) {
    g_name = argv[2];
    g_journal = argv[3];
    g_stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char service_name[256];
    lstrcpynA(service_name, argv[2], sizeof service_name);
    SERVICE_TABLE_ENTRYA table[] = {{service_name, service_main}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherA(table);
    CloseHandle(g_stop_event);
    return 0;
  }
  std::printf("usage: standin_service install <name> <journal> | remove <name> | run <name> <journal>\n");
  return 2;
}
