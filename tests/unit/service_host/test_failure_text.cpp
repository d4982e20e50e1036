// The texts that say why the agent's start was given up, or why the agent
// was not started or not asked to clean up: their exact form and their bound.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "failure_text.h"
#include "jvm_setup.h"

namespace {

const std::string kGivenUp = "Start given up: ";
const std::string kKey = "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pelmora\"";
const std::string kAgent = "com/torvik/pravend/coralind/agent/ManagementAgent";

// What compose_jvm_options says when it refuses its values.
std::string option_refusal(const std::string& classPath, const std::string& directory, const char* profile) {
  std::vector<std::string> options;
  FailureText why;
  EXPECT_FALSE(compose_jvm_options(classPath, directory, profile, options, &why));
  return why.text;
}

std::string class_path_refusal(const std::string& directory) {
  std::string classPath;
  FailureText why;
  EXPECT_FALSE(compose_class_path(directory, classPath, &why));
  return why.text;
}

// An agent's text that holds ASCII only, as a plain string.
std::string ascii(const AgentFailureText& failure) {
  std::string text;
  for (const char16_t c : failure.text) text += c < 0x80 ? static_cast<char>(c) : '?';
  return text;
}

// A text longer than the bound: cut to kFailureTextSize - 1 characters, "..." last.
std::string cut(const std::string& text) {
  return text.substr(0, kFailureTextSize - 4) + "...";
}

struct Case {
  const char* cause;
  std::string text;
  std::string expected;
};

std::string with_messages(const FailureText& text, const std::string& messages) {
  return with_jvm_messages(text, messages.data(), messages.size()).text;
}

TEST(FailureText, EachCauseIsNamedWithTheValueThatCausedIt) {
  const std::string jvmSaid = "\nError occurred during initialization of VM\r\n\r\nToo small stack\x07 size\nx\t y\n";
  const std::string longDirectory(1023, 'd');
  const std::string longProfile(1020, 'p');
  const char unterminated[] = {'C', ':', '\\', 'P'};
  const Case cases[] = {
      {"key not opened", app_paths_key_not_opened("The system cannot find the file specified.\r\n", 2).text,
       kGivenUp + "the registry key " + kKey + " cannot be opened - The system cannot find the file specified. (0x2)"},
      {"key not opened, no system text", app_paths_key_not_opened(nullptr, 0x5).text,
       kGivenUp + "the registry key " + kKey + " cannot be opened - (0x5)"},
      {"values not counted", app_paths_values_not_counted("Access is denied.\r\n", 5).text,
       kGivenUp + "the values of the registry key " + kKey + " cannot be counted - Access is denied. (0x5)"},
      {"no Path value", no_path_value().text, kGivenUp + "the registry key " + kKey + " has no \"Path\" value"},
      {"Path not read", path_value_not_read("Access is denied.\r\n", 5).text,
       kGivenUp + "the \"Path\" value of the registry key " + kKey + " cannot be read - Access is denied. (0x5)"},
      {"Path too long", path_value_too_long(1137, kInstallDirectoryBufferSize).text,
       kGivenUp + "the \"Path\" value of the registry key " + kKey + " holds 1137 bytes, more than its 1024-byte buffer"},
      {"Path unterminated", path_value_unterminated(unterminated, sizeof unterminated).text,
       kGivenUp + "the \"Path\" value of the registry key " + kKey + " has no terminating zero in its 4 bytes: \"C:\\P\""},
      {"search path not set", search_path_not_set(40000, "The parameter is incorrect.\r\n", 87).text,
       kGivenUp + "the process \"Path\" of 40000 characters cannot be set - The parameter is incorrect. (0x57)"},
      {"class path too long", class_path_refusal(std::string(1400, 'd')),
       kGivenUp + "the class path of the installation directory \"" + std::string(1400, 'd') +
           "\" does not fit its 4096-byte buffer"},
      {"class path option", option_refusal(std::string(494, 'c'), "d", "p"),
       kGivenUp + "the class path \"" + std::string(494, 'c') +
           "\" does not fit the JVM option \"-Djava.class.path=\" (512-byte buffer)"},
      {"user.dir option", option_refusal("c", "C:\\" + std::string(498, 'd'), "p"),
       kGivenUp + "the installation directory \"C:\\" + std::string(498, 'd') +
           "\" does not fit the JVM option \"-Duser.dir=\" (512-byte buffer)"},
      {"savepath option", option_refusal("c", "d", longProfile.c_str()),
       kGivenUp + "ALLUSERSPROFILE \"" + longProfile +
           "\" does not fit the JVM option \"-Denv.savepath=\" (1024-byte buffer)"},
      {"jvm not loaded", jvm_not_loaded("The specified module could not be found.\r\n", 126, "C:\\Prog").text,
       kGivenUp + "the library \"jvm\" cannot be loaded - The specified module could not be found. (0x7e); "
                  "searched: C:\\Prog;C:\\Prog\\jre\\bin;C:\\Prog\\jre\\bin\\server"},
      {"jvm not loaded, cut at the bound", jvm_not_loaded("Not found.\r\n", 126, longDirectory).text,
       cut(kGivenUp + "the library \"jvm\" cannot be loaded - Not found. (0x7e); searched: " + longDirectory +
           ";" + longDirectory + "\\jre\\bin;" + longDirectory + "\\jre\\bin\\server")},
      {"jvm library not loaded: its path fills the system's insert",
       jvm_library_not_loaded("C:\\P\\jvm.dll", "%1 is not a valid Win32 application.\r\n", 193).text,
       kGivenUp + "the library \"C:\\P\\jvm.dll\" cannot be loaded - C:\\P\\jvm.dll is not a valid Win32 application. (0xc1)"},
      {"inserts without a value are left out", app_paths_key_not_opened("Key %1 %2!s!not found.\r\n", 2).text,
       kGivenUp + "the registry key " + kKey + " cannot be opened - Key  not found. (0x2)"},
      {"no entry point", no_create_entry("C:\\Prog\\jre\\bin\\server\\jvm.dll").text,
       kGivenUp + "the library \"C:\\Prog\\jre\\bin\\server\\jvm.dll\" has no entry point \"JNI_CreateJavaVM\""},
      {"creation refused", jvm_creation_refused(-1).text, kGivenUp + "JNI_CreateJavaVM returned -1 (JNI_ERR)"},
      {"creation refused, unnamed code", jvm_creation_refused(-42).text, kGivenUp + "JNI_CreateJavaVM returned -42"},
      {"probe unanswered", probe_unanswered(30, 10000).text,
       kGivenUp + "\"ping localhost\" did not answer within 30 pauses of 10000 ms (31 tries)"},
      {"class missing",
       ascii(agent_class_missing(AgentCall::Main, kAgent.c_str(),
                                 widened(("java.lang.NoClassDefFoundError: " + kAgent).c_str()).c_str())),
       "The agent did not start: class " + kAgent + " not found - java.lang.NoClassDefFoundError: " + kAgent},
      {"class missing, no exception", ascii(agent_class_missing(AgentCall::Main, kAgent.c_str(), u"")),
       "The agent did not start: class " + kAgent + " not found"},
      {"main missing",
       ascii(agent_method_missing(AgentCall::Main, kAgent.c_str(), u"java.lang.NoSuchMethodError: main")),
       "The agent did not start: class " + kAgent +
           " has no static method main with signature ([Ljava/lang/String;)V - java.lang.NoSuchMethodError: main"},
      {"class missing at stop", ascii(agent_class_missing(AgentCall::Cleanup, kAgent.c_str(), nullptr)),
       "The agent was not asked to clean up: class " + kAgent + " not found"},
      {"cleanup missing", ascii(agent_method_missing(AgentCall::Cleanup, kAgent.c_str(), u"x.Y: z")),
       "The agent was not asked to clean up: class " + kAgent + " has no static method cleanup with signature ()V - x.Y: z"},
      {"agent thread not attached", agent_not_attached(AgentCall::Main, kAgent.c_str(), -1).text,
       "The agent did not start: the thread that calls " + kAgent +
           ".main cannot attach to the JVM - AttachCurrentThread returned -1 (JNI_ERR)"},
      {"stopping thread not attached", agent_not_attached(AgentCall::Cleanup, kAgent.c_str(), -4).text,
       "The agent was not asked to clean up: the thread that calls " + kAgent +
           ".cleanup cannot attach to the JVM - AttachCurrentThread returned -4 (JNI_ENOMEM)"},
      {"agent thread not created", agent_thread_not_created("Not enough memory resources are available.\r\n", 8).text,
       "The agent did not start: its thread cannot be created - Not enough memory resources are available. (0x8)"},
      {"creation refused, with the JVM's messages", with_messages(jvm_creation_refused(-1), jvmSaid),
       kGivenUp + "JNI_CreateJavaVM returned -1 (JNI_ERR) - the JVM's last messages: Error occurred during "
                  "initialization of VM | Too small stack\\x07 size | x  y"},
      {"no messages, nothing added", with_messages(jvm_aborted_while_created(), "\r\n\n"),
       kGivenUp + "the JVM aborted while it was being created"},
      {"exit while created", jvm_exited_while_created(1).text,
       kGivenUp + "the JVM ended the process with status 1 while it was being created"},
      {"JVM aborted", jvm_aborted("C:\\P\\logs\\hs_err_pid7.log").text,
       "The JVM aborted after a fatal error; its crash report, if it could write one, is C:\\P\\logs\\hs_err_pid7.log"},
      {"output dropped", agent_output_dropped("C:\\P\\logs\\agent-output.log", "No space left on device").text,
       "The agent's output cannot be written to \"C:\\P\\logs\\agent-output.log\" - No space left on device; "
       "it is dropped while that lasts"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, c.expected) << c.cause;
}

// Only a folder that cannot depend on the current drive or folder is taken.
TEST(InstallDirectory, OnlyAFullyQualifiedFolderIsTaken) {
  EXPECT_TRUE(is_fully_qualified_folder("C:\\") && is_fully_qualified_folder("\\\\s\\share"));
  for (const char* partial : {"", ".", "jre", "\\x", "C:x", "\\\\server"})
    EXPECT_FALSE(is_fully_qualified_folder(partial)) << partial;
}

// The newest messages are kept, whole lines or not, within the bound.
TEST(FailureText, JvmMessagesAreBoundedKeepingTheNewest) {
  std::string lines, controls(600, '\x01');  // each control character takes four
  for (int line = 0; line < 400; ++line) lines += "line " + std::to_string(line) + "\n";
  for (const std::string& messages : {lines, controls}) {
    const std::string shown = with_messages(FailureText{}, messages);
    const std::string prefix = " - the JVM's last messages: ...";
    EXPECT_EQ(shown.substr(0, prefix.size()), prefix);
    EXPECT_LE(shown.size() - prefix.size() + 3, kJvmMessagesShown);
    EXPECT_GT(shown.size() - prefix.size() + 3, kJvmMessagesShown - 10);
    EXPECT_EQ(shown.substr(shown.size() - 8), messages == lines ? "line 399" : "\\x01\\x01");
  }
}

}  // namespace
