#include "jvm_setup.h"

#include <cctype>
#include <cstring>

namespace {

// A text fits a buffer when it leaves room for its terminating zero.
bool fits(const std::string& text, std::size_t bufferSize) { return text.size() < bufferSize; }

bool refuse(FailureText* why, const FailureText& text) {
  if (why != nullptr) *why = text;
  return false;
}

}  // namespace

bool is_install_directory_value(const char* valueName) { return std::strcmp(valueName, "Path") == 0; }

const char* shown_value_name(const char* valueName) { return valueName[0] == '\0' ? "<NO NAME>" : valueName; }

bool install_directory_from_data(const char* data, std::size_t bytesRead, std::string& directory) {
  const std::size_t limit = bytesRead < kInstallDirectoryBufferSize ? bytesRead : kInstallDirectoryBufferSize;
  const void* terminator = std::memchr(data, '\0', limit);
  if (terminator == nullptr) return false;
  directory.assign(data, static_cast<const char*>(terminator) - data);
  return true;
}

bool is_fully_qualified_folder(const std::string& path) {
  const auto separator = [&](std::size_t i) { return i < path.size() && (path[i] == '\\' || path[i] == '/'); };
  const bool letter = !path.empty() && std::isalpha(static_cast<unsigned char>(path[0]));
  if (letter && path.size() >= 3 && path[1] == ':' && separator(2)) return true;
  if (!separator(0) || !separator(1)) return false;
  // \\server\share: both names present.
  const std::size_t shareStart = path.find_first_of("\\/", 2) + 1;
  return shareStart > 3 && shareStart < path.size() && !separator(shareStart);
}

std::string compose_search_path(const std::string& directory, const std::string& oldPath) {
  return directory + ";" + directory + "\\jre\\bin" + ";" + directory + "\\jre\\bin\\server" + ";" + oldPath;
}

std::vector<std::string> jvm_library_candidates(const std::string& directory) {
  return {directory + "\\jvm.dll", directory + "\\jre\\bin\\jvm.dll", directory + "\\jre\\bin\\server\\jvm.dll"};
}

bool compose_class_path(const std::string& directory, std::string& classPath, FailureText* why) {
  std::string composed = directory + ";" + directory + "\\ostrel.jar" + ";" + directory + "\\Brantic.jar" + ";";
  if (!fits(composed, kClassPathBufferSize)) return refuse(why, class_path_too_long(directory, kClassPathBufferSize));
  classPath = std::move(composed);
  return true;
}

bool compose_jvm_options(const std::string& classPath, const std::string& directory, const char* allUsersProfile,
                         std::vector<std::string>& options, FailureText* why) {
  const std::string savePath = allUsersProfile != nullptr ? allUsersProfile : "(null)";
  const std::string classPathOption = "-Djava.class.path=" + classPath;
  const std::string userDirOption = "-Duser.dir=" + directory;
  const std::string savePathOption = "-Denv.savepath=" + savePath;
  if (!fits(classPathOption, kClassPathOptionBufferSize))
    return refuse(why, jvm_option_too_long("the class path", classPath, "-Djava.class.path=",
                                           kClassPathOptionBufferSize));
  if (!fits(userDirOption, kUserDirOptionBufferSize))
    return refuse(why, jvm_option_too_long("the installation directory", directory, "-Duser.dir=",
                                           kUserDirOptionBufferSize));
  if (!fits(savePathOption, kSavePathOptionBufferSize))
    return refuse(why, jvm_option_too_long("ALLUSERSPROFILE", savePath, "-Denv.savepath=",
                                           kSavePathOptionBufferSize));
  options = {classPathOption,      "-Djava.compiler=NONE", userDirOption,
             "-Duser.region=US",   "-Duser.language=en",   savePathOption};
  return true;
}

std::string crash_report_option(const std::string& logFolder) {
  std::string option = "-XX:ErrorFile=";
  for (const char c : logFolder) option += c == '%' ? std::string("%%") : std::string(1, c);
  return option + "\\hs_err_pid%p.log";
}

std::string crash_report_path(const std::string& logFolder, unsigned long processId) {
  return logFolder + "\\hs_err_pid" + std::to_string(processId) + ".log";
}
