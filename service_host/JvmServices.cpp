#include "JvmServices.h"

#include <cassert>
#include <string>
#include <vector>

#include "access_check.h"
#include "agent_jni.h"
#include "agent_output_capture.h"
#include "failure_text.h"
#include "jvm_end.h"
#include "jvm_end_hooks.h"
#include "jvm_setup.h"
#include "service_status.h"
#include "system_message.h"
#include "win_handle.h"

namespace {

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
// class path. Returns false (and why) when the value cannot be used.
bool take_install_directory(const std::string& directory, FailureText& why) {
  std::string classPath;
  if (!compose_class_path(directory, classPath, &why)) return false;
  std::string oldPath;
  read_environment("Path", oldPath);  // unset counts as empty
  const std::string searchPath = compose_search_path(directory, oldPath);
  if (!SetEnvironmentVariableA("Path", searchPath.c_str())) {
    const DWORD code = GetLastError();
    why = search_path_not_set(searchPath.size(), SystemMessage(code).text(), code);
    return false;
  }
  g_installDirectory = directory;
  g_classPath = classPath;
  return true;
}

// Looks through the App Paths key's values for "Path". A "Path" value that
// cannot be used (too long, or without its terminating zero) counts as a
// missing installation. Returns false and why when none was found.
bool find_install_directory(FailureText& why) {
  RegistryKey key;
  // Querying and enumerating values is all the host does with the key.
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, KEY_QUERY_VALUE, key.receive());
  if (result != ERROR_SUCCESS) {
    why = app_paths_key_not_opened(SystemMessage(result).text(), result);
    return false;
  }

  char keyClass[260] = "";
  DWORD keyClassSize = sizeof keyClass;
  DWORD valueCount = 0;
  result = RegQueryInfoKeyA(key.get(), keyClass, &keyClassSize, nullptr, nullptr, nullptr, nullptr, &valueCount,
                            nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    why = app_paths_values_not_counted(SystemMessage(result).text(), result);
    return false;
  }

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
    result = RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                              &dataSize);
    if (result == ERROR_MORE_DATA) {
      why = path_value_too_long(dataSize, data.size());
      return false;
    }
    if (result != ERROR_SUCCESS) {
      why = path_value_not_read(SystemMessage(result).text(), result);
      return false;
    }
    std::string directory;
    if (!install_directory_from_data(data.data(), dataSize, directory)) {
      why = path_value_unterminated(data.data(), dataSize);
      return false;
    }
    // A relative or empty value would name folders under the current drive
    // or folder, where anyone may have put a jvm.dll.
    if (!is_fully_qualified_folder(directory)) {
      why = install_directory_not_fully_qualified(directory);
      return false;
    }
    if (!take_install_directory(directory, why)) return false;
    found = true;
  }
  if (!found) why = no_path_value();
  return found;
}

// Loads the installation's jvm.dll by its full path: the first of the
// search path's folders that holds one. Its own dependencies are then looked
// for in its folder first (LOAD_WITH_ALTERED_SEARCH_PATH), and, since main
// took the current folder out of the search, never in the current folder.
HMODULE load_jvm_library(FailureText& why) {
  for (const std::string& candidate : jvm_library_candidates(g_installDirectory)) {
    const DWORD attributes = GetFileAttributesA(candidate.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      // Only a library that is not there lets the search go on: one that
      // cannot be examined might be the one meant.
      const DWORD code = GetLastError();
      if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) continue;
      why = jvm_library_not_examined(candidate, SystemMessage(code).text(), code);
      return nullptr;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // Said, not refused: the installation has always started this way.
    const std::string& d = g_installDirectory;
    warn_of_changeable({d, d + "\\jre\\bin", d + "\\jre\\bin\\server", candidate});
    HMODULE library = LoadLibraryExA(candidate.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
      const DWORD code = GetLastError();
      why = jvm_library_not_loaded(candidate, SystemMessage(code).text(), code);
    }
    return library;
  }
  why = jvm_not_loaded(SystemMessage(ERROR_MOD_NOT_FOUND).text(), ERROR_MOD_NOT_FOUND, g_installDirectory);
  return nullptr;
}

// The path the library was loaded from, or its bare name when that is unknown.
std::string library_path(HMODULE library) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(library, path, sizeof path);
  return length != 0 && length < sizeof path ? std::string(path, length) : std::string("jvm");
}

DWORD WINAPI agent_thread(LPVOID parameter) {
  const LaunchRecord* record = static_cast<const LaunchRecord*>(parameter);
  return static_cast<DWORD>(run_agent_main(record->host->jvm(), *record, agent_error_hook));
}

}  // namespace

JvmServices::JvmServices() : _jvm(nullptr) {}

JvmServices::~JvmServices() {
  assert(_jvm != NULL);
  _jvm->DestroyJavaVM();
}

HANDLE JvmServices::launch(LaunchRecord* record) {
  note_agent_launched();  // from here on the agent may end the process
  HANDLE thread = CreateThread(nullptr, kAgentStackCommit, agent_thread, record, 0, nullptr);
  if (thread == nullptr) {
    const DWORD code = GetLastError();
    error_hook(agent_thread_not_created(SystemMessage(code).text(), code).text);
  }
  return thread;
}

int JvmServices::createJvm() {
  FailureText why;
  if (tryCreateJvm(why)) return 1;
  error_hook(why.text);
  return 0;
}

bool JvmServices::tryCreateJvm(FailureText& why) {
  if (!find_install_directory(why)) return false;

  g_jvmLibrary = load_jvm_library(why);
  if (g_jvmLibrary == nullptr) return false;
  const auto entry = reinterpret_cast<CreateJavaVmEntry>(
      reinterpret_cast<void*>(GetProcAddress(g_jvmLibrary, "JNI_CreateJavaVM")));
  if (entry == nullptr) {
    why = no_create_entry(library_path(g_jvmLibrary).c_str());
    return false;
  }

  std::string allUsersProfile;
  const bool profileSet = read_environment("ALLUSERSPROFILE", allUsersProfile);
  std::vector<std::string> options;
  if (!compose_jvm_options(g_classPath, g_installDirectory, profileSet ? allUsersProfile.c_str() : nullptr,
                           options, &why))
    return false;
  options.push_back(crash_report_option(program_log_folder()));

  const jint created = create_java_vm(entry, options, &_jvm, &host_jvm_end_hooks());
  if (created < 0) {
    why = with_last_jvm_messages(jvm_creation_refused(created));  // the JVM said why through its vfprintf hook
    return false;
  }
  return true;
}
