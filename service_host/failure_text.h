#pragma once

// The texts handed to the error hook when the agent's start is given up, or
// the agent cannot be started or asked to clean up. Each names its cause and
// the value that caused it, so that an administrator reading the event log
// needs nothing else. Composed into a fixed buffer: a text that does not fit
// is cut to kFailureTextSize - 1 characters, the last three being "...".

#include <cstddef>
#include <string>

constexpr std::size_t kFailureTextSize = 2048;

struct FailureText {
  char text[kFailureTextSize] = "";
};

// The key read for the installation directory, as the texts name it.
constexpr const char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelmora";

// System errors come in as the system's own text (null when FormatMessageA
// gave none) with their code: "<text> (0x<code>)", or "(0x<code>)" alone.
// The text may hold inserts ("%1"); none reaches the failure text: the
// library's path fills "%1" where one is known, other inserts are left out.

FailureText app_paths_key_not_opened(const char* systemText, unsigned long code);
FailureText app_paths_values_not_counted(const char* systemText, unsigned long code);
FailureText no_path_value();
FailureText path_value_not_read(const char* systemText, unsigned long code);
FailureText path_value_too_long(unsigned long size, std::size_t bufferSize);
// data: the bytesRead bytes read, none of them a zero.
FailureText path_value_unterminated(const char* data, std::size_t bytesRead);
FailureText search_path_not_set(std::size_t length, const char* systemText, unsigned long code);
FailureText class_path_too_long(const std::string& directory, std::size_t bufferSize);
// what: the value's name ("the class path"); option: the option's prefix.
FailureText jvm_option_too_long(const char* what, const std::string& value, const char* option,
                                std::size_t bufferSize);
// No jvm.dll in any of the installation's folders (code: the system's
// "module not found"). directory: the installation directory.
FailureText jvm_not_loaded(const char* systemText, unsigned long code, const std::string& directory);
// The jvm.dll found at libraryPath cannot be loaded. The system's text names
// the library by the insert "%1" (error 193 among others): it is filled with libraryPath.
FailureText jvm_library_not_loaded(const std::string& libraryPath, const char* systemText, unsigned long code);
FailureText no_create_entry(const char* libraryPath);
FailureText jvm_creation_refused(long result);
// The probe's last run does not count: the start is given up after the pauses,
// even when that run answers.
FailureText probe_unanswered(int pauses, unsigned pauseMs);

// The agent's static main (starting) or cleanup (stopping) was not called.
// exception: the pending Java exception as "<class>: <message>" (empty when
// there was none).
enum class AgentCall { Main, Cleanup };
FailureText agent_class_missing(AgentCall call, const char* className, const char* exception);
FailureText agent_method_missing(AgentCall call, const char* className, const char* exception);
FailureText agent_not_attached(AgentCall call, const char* className, long result);
FailureText agent_thread_not_created(const char* systemText, unsigned long code);
// The agent's static main or cleanup ended with an uncaught exception
// (exception: its toString()).
FailureText agent_call_threw(AgentCall call, const char* className, const char* exception);

// The JNI name of a JNI_CreateJavaVM / AttachCurrentThread result ("JNI_ERR"),
// or null for a number JNI does not name.
const char* jni_result_name(long result);

// A stop gave the agent's cleanup up: it had not returned limitSeconds after
// the stop began, and the service (or the foreground run) ended without it.
FailureText cleanup_given_up(const char* className, long limitSeconds);
