#pragma once

// Composition of what the JVM start needs from the installation directory:
// the process search path, the class path and the six JVM options. Each text
// must fit the buffer the product has always used for it; a value that does
// not fit is refused, never cut short.

#include <cstddef>
#include <string>
#include <vector>

#include "failure_text.h"

constexpr std::size_t kInstallDirectoryBufferSize = 1024;  // also the registry data buffer
constexpr std::size_t kClassPathBufferSize = 4096;
constexpr std::size_t kClassPathOptionBufferSize = 512;
constexpr std::size_t kUserDirOptionBufferSize = 512;
constexpr std::size_t kSavePathOptionBufferSize = 1024;

// The registry value that holds the installation directory: exactly "Path",
// compared case-sensitively. The unnamed default value shows as "<NO NAME>".
bool is_install_directory_value(const char* valueName);
const char* shown_value_name(const char* valueName);

// The installation directory from the data of the "Path" value: the text
// before its terminating zero, which must lie within the bytes read (at most
// the 1024-byte buffer). False when there is no terminating zero.
bool install_directory_from_data(const char* data, std::size_t bytesRead, std::string& directory);

// A folder named from the drive or share root down (X:\... or
// \\server\share\...). Anything else would be taken relative to the current
// drive or folder, which are not the installation's.
bool is_fully_qualified_folder(const std::string& path);

// D;D\jre\bin;D\jre\bin\server;<old Path>
std::string compose_search_path(const std::string& directory, const std::string& oldPath);

// Where jvm.dll is looked for, by full path, in the order of the search
// path's prefix: D\jvm.dll, D\jre\bin\jvm.dll, D\jre\bin\server\jvm.dll.
std::vector<std::string> jvm_library_candidates(const std::string& directory);

// D;D\ostrel.jar;D\Brantic.jar;  False when it does not fit its buffer
// (and why says so, when given).
bool compose_class_path(const std::string& directory, std::string& classPath, FailureText* why = nullptr);

// The six JVM options in their order. allUsersProfile is null when the
// variable is unset, which gives "-Denv.savepath=(null)". False when an
// option does not fit its buffer (and why names the first such option, when given).
bool compose_jvm_options(const std::string& classPath, const std::string& directory, const char* allUsersProfile,
                         std::vector<std::string>& options, FailureText* why = nullptr);

// The option after the six: HotSpot writes its crash report into the log
// folder ("%p" is the process id; a "%" of the folder is doubled). Other JVMs
// ignore it, as they ignore every option they do not know.
std::string crash_report_option(const std::string& logFolder);
// Where that report is for the process processId.
std::string crash_report_path(const std::string& logFolder, unsigned long processId);
