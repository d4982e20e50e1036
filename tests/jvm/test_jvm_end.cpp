// The JVM ending the process itself, with Debian's real OpenJDK: its messages
// reach the host's vfprintf hook, and its exit and abort reach the host's
// hooks before the process ends. The JVM ends the process, so each case runs
// in a child process of its own; the hooks write what they saw to a pipe.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jni.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "agent_jni.h"
#include "failure_text.h"
#include "jvm_end.h"
#include "jvm_setup.h"
#include "launch_record.h"

namespace {

constexpr char kReturningAgent[] = "com/torvik/pravend/coralind/agent/ReturningAgent";

int g_hookOutput = -1;  // the child's end of the pipe the hooks write to

void tell(const std::string& text) {
  if (write(g_hookOutput, text.data(), text.size()) < 0) _exit(120);
}

void JNICALL exit_hook(jint status) { tell("exit " + std::to_string(status) + "\n"); }

// The host's given-up text for a JVM that aborted while it was created.
void JNICALL abort_hook() {
  char messages[kJvmMessagesKept];
  const std::size_t length = jvm_messages().copy_newest(messages, sizeof messages);
  tell(std::string("abort: ") + with_jvm_messages(jvm_aborted_while_created(), messages, length).text + "\n");
}

const JvmEndHooks kHooks = {exit_hook, abort_hook};

jint create_jvm(const std::vector<std::string>& extraOptions, JavaVM** vm) {
  void* library = dlopen(JVM_LIBRARY_PATH, RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) return -100;
  auto entry = reinterpret_cast<CreateJavaVmEntry>(dlsym(library, "JNI_CreateJavaVM"));
  std::vector<std::string> options;
  if (entry == nullptr || !compose_jvm_options(TEST_CLASSES_DIR, "/opt/K", "/srv/All", options)) return -101;
  options.insert(options.end(), extraOptions.begin(), extraOptions.end());
  return create_java_vm(entry, options, vm, &kHooks);
}

struct ChildEnd {
  int status = -1;      // exit status, or -1 when killed by a signal
  std::string hooks;    // what the hooks wrote
  std::string stderrText;
};

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

// Runs body in a child process (before any JVM exists in this one) and
// returns how the child ended; body's return becomes the child's status.
ChildEnd run_in_child(const std::function<int()>& body) {
  int hooks[2], errors[2];
  EXPECT_EQ(pipe(hooks), 0);
  EXPECT_EQ(pipe(errors), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(hooks[0]);
    close(errors[0]);
    dup2(errors[1], STDERR_FILENO);
    g_hookOutput = hooks[1];
    _exit(body());
  }
  close(hooks[1]);
  close(errors[1]);
  ChildEnd end;
  end.hooks = read_all(hooks[0]);
  end.stderrText = read_all(errors[0]);
  int status = 0;
  waitpid(child, &status, 0);
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return end;
}

TEST(JvmEndsTheProcess, AJvmThatCannotReserveItsHeapAbortsWithItsMessageInTheGivenUpText) {
  const ChildEnd end = run_in_child([] {
    // An address space smaller than the initial heap: its reservation fails.
    const rlimit space = {4000000000UL, 4000000000UL};
    setrlimit(RLIMIT_AS, &space);
    JavaVM* vm = nullptr;
    return 50 + create_jvm({"-Xms8g", "-Xmx8g"}, &vm);  // not reached: the JVM ends the process
  });
  EXPECT_EQ(end.status, 1) << end.stderrText;
  EXPECT_EQ(end.hooks.find("abort: Start given up: the JVM aborted while it was being created - the JVM's last "
                           "messages: Error occurred during initialization of VM | Could not reserve enough space"),
            0u)
      << end.hooks;
  // Written where the JVM would have written it, too.
  EXPECT_NE(end.stderrText.find("Error occurred during initialization of VM\nCould not reserve enough space"),
            std::string::npos)
      << end.stderrText;
}

TEST(JvmEndsTheProcess, SystemExitOfTheAgentReachesTheExitHookWithItsStatus) {
  const ChildEnd end = run_in_child([] {
    JavaVM* vm = nullptr;
    if (create_jvm({}, &vm) != JNI_OK) return 101;
    LaunchRecord record;
    record.className = kReturningAgent;
    record.arguments = {"exit", "3"};
    run_agent_main(vm, record, nullptr);
    return 102;  // not reached: System.exit ends the process
  });
  EXPECT_EQ(end.hooks, "exit 3\n");
  EXPECT_EQ(end.status, 3);
}

}  // namespace
