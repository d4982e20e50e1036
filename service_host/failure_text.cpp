#include "failure_text.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "error_text.h"
#include "launch_record.h"

namespace {

constexpr char kGivenUp[] = "Start given up: ";
constexpr char kKeyName[] = "HKEY_LOCAL_MACHINE\\";

FailureText compose(const char* format, ...) {
  FailureText failure;
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(failure.text, sizeof failure.text, format, arguments);
  va_end(arguments);
  // A text cut at the bound ends in "...", so that no one takes it for whole.
  if (length >= static_cast<int>(sizeof failure.text)) std::memcpy(failure.text + sizeof failure.text - 4, "...", 4);
  return failure;
}

// A part of a failure text.
struct Part {
  char text[kLastErrorTextSize];
};

// The system's text with its inserts ("%1", "%2!s!") filled: "%1" with
// first, when given; the others with nothing.
std::string fill_inserts(const char* systemText, const char* first) {
  std::string filled;
  for (const char* p = systemText; *p != '\0'; ++p) {
    if (p[0] != '%' || !std::isdigit(static_cast<unsigned char>(p[1]))) {
      filled += *p;
      continue;
    }
    const char* digits = p + 1;
    while (std::isdigit(static_cast<unsigned char>(p[1]))) ++p;
    if (first != nullptr && p == digits && *digits == '1') filled += first;
    if (p[1] == '!' && std::strchr(p + 2, '!') != nullptr) p = std::strchr(p + 2, '!');
  }
  return filled;
}

// "<system text> (0x<code>)", or the code alone when there is no usable text.
Part system_error(const char* systemText, unsigned long code, const char* firstInsert = nullptr) {
  Part part;
  const std::string filled = systemText != nullptr ? fill_inserts(systemText, firstInsert) : std::string();
  compose_last_error_text(systemText != nullptr ? filled.c_str() : nullptr, code, part.text, sizeof part.text);
  if (part.text[0] == '\0') std::snprintf(part.text, sizeof part.text, "(0x%lx)", code);
  return part;
}

// "<n> (<JNI name>)", or the number alone when JNI does not name it.
Part jni_result(long result) {
  Part part;
  const char* name = jni_result_name(result);
  if (name != nullptr)
    std::snprintf(part.text, sizeof part.text, "%ld (%s)", result, name);
  else
    std::snprintf(part.text, sizeof part.text, "%ld", result);
  return part;
}

const char* outcome(AgentCall call) {
  return call == AgentCall::Main ? "The agent did not start" : "The agent was not asked to clean up";
}

const char* method(AgentCall call) { return call == AgentCall::Main ? kAgentMainMethod : kAgentCleanupMethod; }

const char* signature(AgentCall call) {
  return call == AgentCall::Main ? kAgentMainSignature : kAgentCleanupSignature;
}

// "<head> - <exception>", or the head alone when there is no exception.
AgentFailureText with_exception(const FailureText& head, const char16_t* exception) {
  AgentFailureText text{widened(head.text)};
  if (exception != nullptr && exception[0] != u'\0') text.text += u" - " + std::u16string(exception);
  return text;
}

}  // namespace

FailureText app_paths_key_not_opened(const char* systemText, unsigned long code) {
  return compose("%sthe registry key \"%s%s\" cannot be opened - %s", kGivenUp, kKeyName, kAppPathsKey,
                 system_error(systemText, code).text);
}

FailureText app_paths_values_not_counted(const char* systemText, unsigned long code) {
  return compose("%sthe values of the registry key \"%s%s\" cannot be counted - %s", kGivenUp, kKeyName,
                 kAppPathsKey, system_error(systemText, code).text);
}

FailureText no_path_value() {
  return compose("%sthe registry key \"%s%s\" has no \"Path\" value", kGivenUp, kKeyName, kAppPathsKey);
}

FailureText path_value_not_read(const char* systemText, unsigned long code) {
  return compose("%sthe \"Path\" value of the registry key \"%s%s\" cannot be read - %s", kGivenUp, kKeyName,
                 kAppPathsKey, system_error(systemText, code).text);
}

FailureText path_value_too_long(unsigned long size, std::size_t bufferSize) {
  return compose("%sthe \"Path\" value of the registry key \"%s%s\" holds %lu bytes, more than its %lu-byte buffer",
                 kGivenUp, kKeyName, kAppPathsKey, size, static_cast<unsigned long>(bufferSize));
}

FailureText path_value_unterminated(const char* data, std::size_t bytesRead) {
  return compose("%sthe \"Path\" value of the registry key \"%s%s\" has no terminating zero in its %lu bytes: \"%.*s\"",
                 kGivenUp, kKeyName, kAppPathsKey, static_cast<unsigned long>(bytesRead),
                 static_cast<int>(bytesRead < kFailureTextSize ? bytesRead : kFailureTextSize), data);
}

FailureText install_directory_not_fully_qualified(const std::string& value) {
  return compose("%sthe \"Path\" value of the registry key \"%s%s\" is not a fully qualified folder "
                 "(X:\\... or \\\\server\\share\\...): \"%s\"",
                 kGivenUp, kKeyName, kAppPathsKey, value.c_str());
}

FailureText search_path_not_set(std::size_t length, const char* systemText, unsigned long code) {
  return compose("%sthe process \"Path\" of %lu characters cannot be set - %s", kGivenUp,
                 static_cast<unsigned long>(length), system_error(systemText, code).text);
}

FailureText class_path_too_long(const std::string& directory, std::size_t bufferSize) {
  return compose("%sthe class path of the installation directory \"%s\" does not fit its %lu-byte buffer", kGivenUp,
                 directory.c_str(), static_cast<unsigned long>(bufferSize));
}

FailureText jvm_option_too_long(const char* what, const std::string& value, const char* option,
                                std::size_t bufferSize) {
  return compose("%s%s \"%s\" does not fit the JVM option \"%s\" (%lu-byte buffer)", kGivenUp, what, value.c_str(),
                 option, static_cast<unsigned long>(bufferSize));
}

FailureText jvm_not_loaded(const char* systemText, unsigned long code, const std::string& directory) {
  const char* d = directory.c_str();
  return compose("%sthe library \"jvm\" cannot be loaded - %s; searched: %s;%s\\jre\\bin;%s\\jre\\bin\\server",
                 kGivenUp, system_error(systemText, code).text, d, d, d);
}

FailureText jvm_library_not_loaded(const std::string& libraryPath, const char* systemText, unsigned long code) {
  return compose("%sthe library \"%s\" cannot be loaded - %s", kGivenUp, libraryPath.c_str(),
                 system_error(systemText, code, libraryPath.c_str()).text);
}

FailureText jvm_library_not_examined(const std::string& libraryPath, const char* systemText, unsigned long code) {
  return compose("%sthe library \"%s\" cannot be examined - %s", kGivenUp, libraryPath.c_str(),
                 system_error(systemText, code, libraryPath.c_str()).text);
}

FailureText no_create_entry(const char* libraryPath) {
  return compose("%sthe library \"%s\" has no entry point \"JNI_CreateJavaVM\"", kGivenUp, libraryPath);
}

FailureText jvm_creation_refused(long result) {
  return compose("%sJNI_CreateJavaVM returned %s", kGivenUp, jni_result(result).text);
}

FailureText probe_unanswered(int pauses, unsigned pauseMs) {
  return compose("%s\"ping localhost\" did not answer within %d pauses of %u ms (%d tries)", kGivenUp, pauses,
                 pauseMs, pauses + 1);
}

FailureText probe_not_started(const std::string& program, const char* systemText, unsigned long code) {
  return compose("%sthe program \"%s\" cannot be started - %s", kGivenUp, program.c_str(),
                 system_error(systemText, code, program.c_str()).text);
}

std::u16string widened(const char* ascii) {
  std::u16string wide;
  for (const char* p = ascii; *p != '\0'; ++p) wide += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return wide;
}

AgentFailureText agent_class_missing(AgentCall call, const char* className, const char16_t* exception) {
  return with_exception(compose("%s: class %s not found", outcome(call), className), exception);
}

AgentFailureText agent_method_missing(AgentCall call, const char* className, const char16_t* exception) {
  return with_exception(compose("%s: class %s has no static method %s with signature %s", outcome(call), className,
                                method(call), signature(call)),
                        exception);
}

FailureText agent_not_attached(AgentCall call, const char* className, long result) {
  return compose("%s: the thread that calls %s.%s cannot attach to the JVM - AttachCurrentThread returned %s",
                 outcome(call), className, method(call), jni_result(result).text);
}

FailureText agent_thread_not_created(const char* systemText, unsigned long code) {
  return compose("%s: its thread cannot be created - %s", outcome(AgentCall::Main), system_error(systemText, code).text);
}

AgentFailureText agent_call_threw(AgentCall call, const char* className, const char16_t* exception) {
  const char* failed = call == AgentCall::Main ? "The agent failed" : "The agent's cleanup failed";
  AgentFailureText text{widened(compose("%s: %s.%s ended with an uncaught exception - ", failed, className,
                                        method(call)).text)};
  if (exception != nullptr) text.text += exception;
  return text;
}

const char* jni_result_name(long result) {
  switch (result) {
    case 0: return "JNI_OK";
    case -1: return "JNI_ERR";
    case -2: return "JNI_EDETACHED";
    case -3: return "JNI_EVERSION";
    case -4: return "JNI_ENOMEM";
    case -5: return "JNI_EEXIST";
    case -6: return "JNI_EINVAL";
    default: return nullptr;
  }
}

namespace {

// How many characters a byte of the JVM's messages takes once readable
// (a line break: the separator, counted by the caller).
std::size_t readable_width(unsigned char c) {
  return c == '\t' || (c >= 0x20 && c != 0x7f) ? 1 : 4;
}

bool is_line_break(char c) { return c == '\n' || c == '\r'; }

}  // namespace

std::size_t readable_jvm_messages(const char* messages, std::size_t length, char* out) {
  constexpr char kSeparator[] = " | ";
  constexpr std::size_t kSeparatorLength = sizeof kSeparator - 1;
  // Line breaks at either end say nothing.
  while (length > 0 && is_line_break(messages[length - 1])) --length;
  std::size_t first = 0;
  while (first < length && is_line_break(messages[first])) ++first;

  // Walks back from the newest byte while the readable form still fits,
  // with room left for "...".
  std::size_t start = length;
  std::size_t width = 0;
  while (start > first) {
    const char c = messages[start - 1];
    std::size_t more = readable_width(static_cast<unsigned char>(c));
    if (is_line_break(c)) more = is_line_break(messages[start]) ? 0 : kSeparatorLength;
    if (width + more > kJvmMessagesShown - 3) break;
    width += more;
    --start;
  }
  std::size_t used = 0;
  if (start > first) {
    std::memcpy(out, "...", 3);
    used = 3;
  }
  for (std::size_t i = start; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(messages[i]);
    if (is_line_break(static_cast<char>(c))) {
      if (i + 1 < length && is_line_break(messages[i + 1])) continue;
      std::memcpy(out + used, kSeparator, kSeparatorLength);
      used += kSeparatorLength;
    } else if (c == '\t') {
      out[used++] = ' ';
    } else if (readable_width(c) == 1) {
      out[used++] = static_cast<char>(c);
    } else {
      std::snprintf(out + used, 5, "\\x%02X", c);
      used += 4;
    }
  }
  out[used] = '\0';
  return used;
}

FailureText with_jvm_messages(const FailureText& text, const char* messages, std::size_t length) {
  char readable[kJvmMessagesShown + 1];
  if (readable_jvm_messages(messages, length, readable) == 0) return text;
  return compose("%s - the JVM's last messages: %s", text.text, readable);
}

FailureText jvm_exited_while_created(long status) {
  return compose("%sthe JVM ended the process with status %ld while it was being created", kGivenUp, status);
}

FailureText jvm_aborted_while_created() {
  return compose("%sthe JVM aborted while it was being created", kGivenUp);
}

FailureText agent_ended_process(long status) {
  return compose("The agent ended the process with status %ld (System.exit or Runtime.halt)", status);
}

FailureText jvm_aborted(const std::string& crashReport) {
  return compose("The JVM aborted after a fatal error; its crash report, if it could write one, is %s",
                 crashReport.c_str());
}

FailureText agent_output_dropped(const std::string& path, const char* why) {
  return compose("The agent's output cannot be written to \"%s\" - %s; it is dropped while that lasts", path.c_str(),
                 why);
}

FailureText cleanup_given_up(const char* className, long limitSeconds) {
  return compose("The agent's cleanup was given up: %s.%s did not return within %ld s; the service ended without it",
                 className, kAgentCleanupMethod, limitSeconds);
}
