#include "JvmServices.h"

#include <cassert>
#include <string>
#include <vector>

#include "agent_jni.h"
#include "jvm_setup.h"
#include "win_handle.h"

namespace {

constexpr char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelmora";
constexpr SIZE_T kAgentStackCommit = 4096;

// Process-wide: what the JVM start found and loaded. The library stays loaded
// until the process ends, since the JVM's threads run inside it. The texts are
// never destroyed: the process may end while a start still reads them.
HMODULE g_jvmLibrary = nullptr;
std::string& g_installDirectory = *new std::string;
std::string& g_classPath = *new std::string;

// A whole environment variable; false when it is unset.
bool read_environment(const char* name, std::string& value) {
  std::vector<char> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      value.clear();
      return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    }
    if (length < buffer.size()) {
      value.assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length);  // the size needed, terminator included
  }
}

// The installation's "Path" value prepares the process search path and the
// class path. Returns false when the value cannot be used.
bool take_install_directory(const std::string& directory) {
  std::string classPath;
  if (!compose_class_path(directory, classPath)) return false;
  std::string oldPath;
  read_environment("Path", oldPath);  // unset counts as empty
  if (!SetEnvironmentVariableA("Path", compose_search_path(directory, oldPath).c_str())) return false;
  g_installDirectory = directory;
  g_classPath = classPath;
  return true;
}

// Looks through the App Paths key's values for "Path". A "Path" value that
// cannot be used (too long, or without its terminating zero) counts as a
// missing installation.
bool find_install_directory() {
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, KEY_ALL_ACCESS, key.receive()) != ERROR_SUCCESS)
    return false;

  char keyClass[260] = "";
  DWORD keyClassSize = sizeof keyClass;
  DWORD valueCount = 0;
  if (RegQueryInfoKeyA(key.get(), keyClass, &keyClassSize, nullptr, nullptr, nullptr, nullptr, &valueCount,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;

  bool found = false;
  std::vector<char> name(4096);
  std::vector<char> data(kInstallDirectoryBufferSize);
  for (DWORD index = 0; index < valueCount; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    const LONG enumerated =
        RegEnumValueA(key.get(), index, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (enumerated != ERROR_SUCCESS && enumerated != ERROR_INSUFFICIENT_BUFFER) break;

    const char* valueName = shown_value_name(name.data());
    if (!is_install_directory_value(valueName)) continue;

    data[0] = '\0';
    DWORD dataSize = static_cast<DWORD>(data.size());
    if (RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                         &dataSize) != ERROR_SUCCESS)
      return false;
    std::string directory;
    if (!install_directory_from_data(data.data(), dataSize, directory) || !take_install_directory(directory))
      return false;
    found = true;
  }
  return found;
}

DWORD WINAPI agent_thread(LPVOID parameter) {
  const LaunchRecord* record = static_cast<const LaunchRecord*>(parameter);
  return static_cast<DWORD>(run_agent_main(record->host->jvm(), *record));
}

}  // namespace

JvmServices::JvmServices() : _jvm(nullptr) {}

JvmServices::~JvmServices() {
  assert(_jvm != NULL);
  _jvm->DestroyJavaVM();
}

HANDLE JvmServices::launch(LaunchRecord* record) {
  return CreateThread(nullptr, kAgentStackCommit, agent_thread, record, 0, nullptr);
}

int JvmServices::createJvm() {
  if (!find_install_directory()) return 0;

  g_jvmLibrary = LoadLibraryA("jvm");
  if (g_jvmLibrary == nullptr) return 0;
  const auto entry = reinterpret_cast<CreateJavaVmEntry>(
      reinterpret_cast<void*>(GetProcAddress(g_jvmLibrary, "JNI_CreateJavaVM")));
  if (entry == nullptr) return 0;

  std::string allUsersProfile;
  const bool profileSet = read_environment("ALLUSERSPROFILE", allUsersProfile);
  std::vector<std::string> options;
  if (!compose_jvm_options(g_classPath, g_installDirectory, profileSet ? allUsersProfile.c_str() : nullptr,
                           options))
    return 0;

  return create_java_vm(entry, options, &_jvm) >= 0 ? 1 : 0;
}
