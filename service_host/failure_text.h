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
// The value names no folder from a drive or share root (empty or relative).
FailureText install_directory_not_fully_qualified(const std::string& value);
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
// Whether a jvm.dll is at libraryPath cannot be told (any error but "not found").
FailureText jvm_library_not_examined(const std::string& libraryPath, const char* systemText, unsigned long code);
FailureText no_create_entry(const char* libraryPath);
FailureText jvm_creation_refused(long result);
// The probe's last run does not count: the start is given up after the pauses,
// even when that run answers.
FailureText probe_unanswered(int pauses, unsigned pauseMs);
// The probe's program cannot be started at all (program: its path, which
// also fills the system text's "%1").
FailureText probe_not_started(const std::string& program, const char* systemText, unsigned long code);

// A text that carries the agent's own (Java) text: UTF-16, as the JVM holds
// it, so that every character reaches the event log as the agent wrote it.
// The host's parts of it are ASCII; the Java text in it is bounded by its taker.
struct AgentFailureText {
  std::u16string text;
};

// An ASCII text as UTF-16 (other bytes taken as Latin-1).
std::u16string widened(const char* ascii);

// The agent's static main (starting) or cleanup (stopping) was not called.
// exception: the pending Java exception as "<class>: <message>" (null or empty
// when there was none).
enum class AgentCall { Main, Cleanup };
AgentFailureText agent_class_missing(AgentCall call, const char* className, const char16_t* exception);
AgentFailureText agent_method_missing(AgentCall call, const char* className, const char16_t* exception);
FailureText agent_not_attached(AgentCall call, const char* className, long result);
FailureText agent_thread_not_created(const char* systemText, unsigned long code);
// The agent's static main or cleanup ended with an uncaught exception
// (exception: its toString()).
AgentFailureText agent_call_threw(AgentCall call, const char* className, const char16_t* exception);

// The JNI name of a JNI_CreateJavaVM / AttachCurrentThread result ("JNI_ERR"),
// or null for a number JNI does not name.
const char* jni_result_name(long result);

// ---- the JVM ending the process, and the agent's output ----

// At most this many characters of the JVM's last messages end a text.
constexpr std::size_t kJvmMessagesShown = 1000;

// The JVM's last messages (bytes as it wrote them) on one line for the event
// log: line breaks become " | ", tabs spaces, other control characters
// "\xNN"; empty lines are left out. Only the newest kJvmMessagesShown
// characters are kept, "..." first when older ones were left out. Returns the
// length written into out (which holds kJvmMessagesShown + 1 bytes at least).
std::size_t readable_jvm_messages(const char* messages, std::size_t length, char* out);

// text, followed by " - the JVM's last messages: <readable messages>" when
// there are any.
FailureText with_jvm_messages(const FailureText& text, const char* messages, std::size_t length);

// The JVM ended the process while it was being created (the start is given up).
FailureText jvm_exited_while_created(long status);
FailureText jvm_aborted_while_created();
// After the launch: the agent ended the process (System.exit, Runtime.halt).
FailureText agent_ended_process(long status);
// After the launch: the JVM aborted; crashReport is where it writes its report.
FailureText jvm_aborted(const std::string& crashReport);

// The agent's output cannot be written to path (why: a system error text).
FailureText agent_output_dropped(const std::string& path, const char* why);
// A stop gave the agent's cleanup up: it had not returned limitSeconds after
// the stop began, and the service (or the foreground run) ended without it.
FailureText cleanup_given_up(const char* className, long limitSeconds);
