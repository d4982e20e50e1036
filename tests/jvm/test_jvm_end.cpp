// The real JVM ending the process: its messages, exit and abort reach the
// host's hooks first. Each case runs in a child, whose hooks write to a pipe.

#include <dlfcn.h>
#include <stdio.h>
#include <gtest/gtest.h>
#include <jni.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "agent_jni.h"
#include "failure_text.h"
#include "jvm_end.h"
#include "jvm_setup.h"

namespace {

int g_hookPipe = -1;  // the child's end

void JNICALL exit_hook(jint status) { dprintf(g_hookPipe, "exit %d", static_cast<int>(status)); }

void JNICALL abort_hook() {  // the given-up text of a JVM that aborted while created
  char messages[kJvmMessagesKept];
  const std::size_t length = jvm_messages().copy_newest(messages, sizeof messages);
  dprintf(g_hookPipe, "%s", with_jvm_messages(jvm_aborted_while_created(), messages, length).text);
}

jint create_jvm(const std::vector<std::string>& extraOptions, JavaVM** vm) {
  static const JvmEndHooks hooks = {exit_hook, abort_hook};
  auto entry = reinterpret_cast<CreateJavaVmEntry>(dlsym(dlopen(JVM_LIBRARY_PATH, RTLD_NOW), "JNI_CreateJavaVM"));
  std::vector<std::string> options;
  if (entry == nullptr || !compose_jvm_options(TEST_CLASSES_DIR, "/opt/K", "/srv/All", options)) return -100;
  options.insert(options.end(), extraOptions.begin(), extraOptions.end());
  return create_java_vm(entry, options, vm, &hooks);
}

// Runs body in a child (none has a JVM here): what its hooks told, and its status.
std::pair<std::string, int> run_in_child(const std::function<int()>& body) {
  int hookPipe[2];
  EXPECT_EQ(pipe(hookPipe), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(hookPipe[0]);
    g_hookPipe = hookPipe[1];
    _exit(body());
  }
  close(hookPipe[1]);
  std::string told;
  char buffer[4096];
  for (ssize_t n; (n = read(hookPipe[0], buffer, sizeof buffer)) > 0;) told.append(buffer, static_cast<std::size_t>(n));
  close(hookPipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return {told, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(JvmEndsTheProcess, AJvmThatCannotReserveItsHeapAbortsWithItsMessageInTheGivenUpText) {
  const auto [told, status] = run_in_child([] {
    const rlimit space = {4000000000UL, 4000000000UL};  // less than the initial heap
    setrlimit(RLIMIT_AS, &space);
    JavaVM* vm = nullptr;
    return 50 + create_jvm({"-Xms8g", "-Xmx8g"}, &vm);  // not reached: the JVM ends the process
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(told.find("Start given up: the JVM aborted while it was being created - the JVM's last messages: "
                      "Error occurred during initialization of VM | Could not reserve enough space"),
            0u)
      << told;
}

TEST(JvmEndsTheProcess, SystemExitOfTheAgentReachesTheExitHookWithItsStatus) {
  const auto [told, status] = run_in_child([] {
    JavaVM* vm = nullptr;
    if (create_jvm({}, &vm) != JNI_OK) return 101;
    LaunchRecord record{"com/torvik/pravend/coralind/agent/ReturningAgent", {"exit", "3"}, nullptr};
    run_agent_main(vm, record, nullptr);
    return 102;  // not reached: System.exit ends the process
  });
  EXPECT_EQ(told, "exit 3");
  EXPECT_EQ(status, 3);
}

}  // namespace
