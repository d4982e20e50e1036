// The agent's JNI code (service_host/agent_jni.cpp) against a real JVM:
// Debian's OpenJDK loaded at run time, created with the host's options, and
// Java test agents under the agent's class name (java/.../agent/*.java).

#include <dlfcn.h>
#include <stdio.h>
#include <gtest/gtest.h>
#include <jni.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "agent_jni.h"
#include "failure_text.h"
#include "jvm_end.h"
#include "jvm_setup.h"
#include "launch_record.h"

namespace {

using namespace std::chrono_literals;

constexpr char kNoCleanupAgent[] = "com/torvik/pravend/coralind/agent/NoCleanupAgent";
constexpr char kReturningAgent[] = "com/torvik/pravend/coralind/agent/ReturningAgent";
constexpr char kMissingAgent[] = "com/torvik/pravend/coralind/agent/Missing";
// Values the JVM options carry; a space in each shows that nothing splits them.
constexpr char kInstallDirectory[] = "/opt/Korvane Quorvex";
constexpr char kAllUsersProfile[] = "/srv/All Users";
// Not a real JVM option: the creation only succeeds when unrecognised
// options are ignored, as the host asks.
constexpr char kUnrecognisedOption[] = "-Xkorvane-not-an-option";

JavaVM* g_vm = nullptr;
jint g_createResult = JNI_ERR;

// The texts the code under test handed to its error hook (UTF-16).
std::mutex g_failuresLock;
std::vector<std::u16string> g_failures;

void record_failure(const char16_t* text) {
  std::lock_guard<std::mutex> guard(g_failuresLock);
  g_failures.push_back(text);
}

std::vector<std::u16string> failures16() {
  std::lock_guard<std::mutex> guard(g_failuresLock);
  return g_failures;
}

// The texts, for those that hold ASCII only ('?' for any other unit).
std::vector<std::string> failures() {
  std::vector<std::string> texts;
  for (const std::u16string& failure : failures16()) {
    texts.emplace_back();
    for (const char16_t c : failure) texts.back() += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return texts;
}

void clear_failures() {
  std::lock_guard<std::mutex> guard(g_failuresLock);
  g_failures.clear();
}

// Creates the one JVM of the process on the main thread, which stays attached
// and is the thread from which the tests look into the JVM.
class JvmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    void* library = dlopen(JVM_LIBRARY_PATH, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto entry = reinterpret_cast<CreateJavaVmEntry>(dlsym(library, "JNI_CreateJavaVM"));
    ASSERT_NE(entry, nullptr);
    std::vector<std::string> options;
    ASSERT_TRUE(compose_jvm_options(TEST_CLASSES_DIR, kInstallDirectory, kAllUsersProfile, options));
    options.push_back(kUnrecognisedOption);
    g_createResult = create_java_vm(entry, options, &g_vm);
  }
};

JNIEnv* main_env() {
  JNIEnv* env = nullptr;
  if (g_vm == nullptr || g_vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK) return nullptr;
  return env;
}

// Reports and clears a Java exception left by a look into the JVM.
void expect_no_exception(JNIEnv* env) {
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    env->ExceptionClear();
    ADD_FAILURE() << "Java exception (described on stderr)";
  }
}

jclass find(JNIEnv* env, const char* className) {
  jclass found = env->FindClass(className);
  expect_no_exception(env);
  return found;
}

int static_int(const char* className, const char* field) {
  JNIEnv* env = main_env();
  jclass cls = find(env, className);
  if (cls == nullptr) return -1000;
  const int value = env->GetStaticIntField(cls, env->GetStaticFieldID(cls, field, "I"));
  expect_no_exception(env);
  return value;
}

bool static_bool(const char* className, const char* field) {
  JNIEnv* env = main_env();
  jclass cls = find(env, className);
  if (cls == nullptr) return false;
  const bool value = env->GetStaticBooleanField(cls, env->GetStaticFieldID(cls, field, "Z")) == JNI_TRUE;
  expect_no_exception(env);
  return value;
}

jobject static_object(const char* className, const char* field, const char* signature) {
  JNIEnv* env = main_env();
  jclass cls = find(env, className);
  if (cls == nullptr) return nullptr;
  jobject value = env->GetStaticObjectField(cls, env->GetStaticFieldID(cls, field, signature));
  expect_no_exception(env);
  return value;
}

std::string java_string(jobject text) {
  if (text == nullptr) return "(null)";
  JNIEnv* env = main_env();
  const char* utf = env->GetStringUTFChars(static_cast<jstring>(text), nullptr);
  std::string value(utf);
  env->ReleaseStringUTFChars(static_cast<jstring>(text), utf);
  return value;
}

std::string static_string(const char* className, const char* field) {
  return java_string(static_object(className, field, "Ljava/lang/String;"));
}

jobject static_thread(const char* className, const char* field) {
  return static_object(className, field, "Ljava/lang/Thread;");
}

// Calls a static ()V method of a test agent from the main thread (the tests'
// own doing, not the code under test).
void call_static(const char* className, const char* method) {
  JNIEnv* env = main_env();
  jclass cls = find(env, className);
  env->CallStaticVoidMethod(cls, env->GetStaticMethodID(cls, method, "()V"));
  expect_no_exception(env);
}

bool thread_alive(jobject thread) {
  JNIEnv* env = main_env();
  jclass cls = find(env, kAgentClassName);
  const bool alive = env->CallStaticBooleanMethod(
                         cls, env->GetStaticMethodID(cls, "isAlive", "(Ljava/lang/Thread;)Z"), thread) == JNI_TRUE;
  expect_no_exception(env);
  return alive;
}

// Live threads attached to the JVM in the "main" group (the tests' own main
// thread included).
int attached_threads() {
  JNIEnv* env = main_env();
  jclass cls = find(env, kAgentClassName);
  const int count = env->CallStaticIntMethod(cls, env->GetStaticMethodID(cls, "threadsInMyGroup", "()I"));
  expect_no_exception(env);
  return count;
}

bool same_object(jobject a, jobject b) { return main_env()->IsSameObject(a, b) == JNI_TRUE; }

std::string system_property(const char* name) {
  JNIEnv* env = main_env();
  jclass system = find(env, "java/lang/System");
  jmethodID getProperty = env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  jobject value = env->CallStaticObjectMethod(system, getProperty, env->NewStringUTF(name));
  expect_no_exception(env);
  return java_string(value);
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

LaunchRecord record_for(const char* className, std::vector<std::string> arguments = {}) {
  LaunchRecord record;
  record.className = className;
  record.arguments = std::move(arguments);
  return record;
}

class AgentJniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(g_createResult, 0) << "JNI_CreateJavaVM failed";
    ASSERT_NE(main_env(), nullptr);
    for (const char* agent : {kAgentClassName, kNoCleanupAgent, kReturningAgent}) call_static(agent, "reset");
    clear_failures();
  }

  // Never leave an agent thread blocked in main: the futures, destroyed
  // after TearDown, wait for their threads.
  void TearDown() override {
    if (main_env() != nullptr) call_static(kAgentClassName, "cleanup");
  }

  // The agent thread: run_agent_main on a thread of its own.
  std::future<jint>& start_agent_thread(LaunchRecord record) {
    agent = std::async(std::launch::async, [record] { return run_agent_main(g_vm, record, record_failure); });
    return agent;
  }

  // A stop: call_agent_cleanup on another thread.
  std::future<bool>& start_cleanup_thread(const char* className) {
    stop = std::async(std::launch::async,
                      [className] { return call_agent_cleanup(g_vm, className, record_failure); });
    return stop;
  }

  std::future<jint> agent;
  std::future<bool> stop;
};

TEST_F(AgentJniTest, JvmIsCreatedWithTheHostOptions) {
  EXPECT_EQ(g_createResult, JNI_OK);
  EXPECT_EQ(system_property("java.class.path"), TEST_CLASSES_DIR);
  EXPECT_EQ(system_property("user.dir"), kInstallDirectory);
  EXPECT_EQ(system_property("user.region"), "US");
  EXPECT_EQ(system_property("user.language"), "en");
  EXPECT_EQ(system_property("env.savepath"), kAllUsersProfile);
  // The creating thread keeps its attachment.
  JNIEnv* env = nullptr;
  EXPECT_EQ(g_vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2), JNI_OK);
}

TEST_F(AgentJniTest, MainGetsAnEmptyStringArrayAndBlocksUntilCleanupFromAnotherThread) {
  const int threadsBefore = attached_threads();
  start_agent_thread(record_for(kAgentClassName));

  ASSERT_TRUE(wait_until([] { return static_int(kAgentClassName, "mainCalls") == 1; }, 10s));
  EXPECT_EQ(static_int(kAgentClassName, "mainArgumentCount"), 0);
  EXPECT_EQ(static_string(kAgentClassName, "mainArgumentType"), "[Ljava.lang.String;");
  jobject mainThread = static_thread(kAgentClassName, "mainThread");
  EXPECT_TRUE(thread_alive(mainThread));
  EXPECT_EQ(attached_threads(), threadsBefore + 1);

  // main stays inside the call until cleanup releases it.
  EXPECT_EQ(agent.wait_for(300ms), std::future_status::timeout);
  EXPECT_FALSE(static_bool(kAgentClassName, "mainReturned"));

  start_cleanup_thread(kAgentClassName);
  ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(stop.get());
  ASSERT_EQ(agent.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(agent.get(), 0);

  EXPECT_TRUE(static_bool(kAgentClassName, "mainReturned"));
  EXPECT_EQ(static_int(kAgentClassName, "cleanupCalls"), 1);
  jobject cleanupThread = static_thread(kAgentClassName, "cleanupThread");
  ASSERT_NE(cleanupThread, nullptr);
  EXPECT_FALSE(same_object(cleanupThread, mainThread));
  // Both threads detached before they ended: their Java threads are gone.
  EXPECT_FALSE(thread_alive(mainThread));
  EXPECT_FALSE(thread_alive(cleanupThread));
  EXPECT_EQ(attached_threads(), threadsBefore);
  EXPECT_EQ(failures(), std::vector<std::string>{});
}

TEST_F(AgentJniTest, ArgumentsOfTheRecordReachMainInOrder) {
  // The host adds none, but the record carries them as built strings.
  start_agent_thread(record_for(kReturningAgent, {"alpha", "beta gamma", ""}));
  ASSERT_EQ(agent.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(agent.get(), 0);
  EXPECT_EQ(static_int(kReturningAgent, "mainCalls"), 1);
  EXPECT_EQ(static_string(kReturningAgent, "arguments"), "alpha|beta gamma|");
}

TEST_F(AgentJniTest, MainReturningByItselfEndsTheThreadDetachedWithoutCleanup) {
  const int threadsBefore = attached_threads();
  start_agent_thread(record_for(kReturningAgent));
  ASSERT_EQ(agent.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(agent.get(), 0);
  EXPECT_EQ(static_int(kReturningAgent, "mainCalls"), 1);
  EXPECT_FALSE(thread_alive(static_thread(kReturningAgent, "mainThread")));
  EXPECT_EQ(static_int(kAgentClassName, "cleanupCalls"), 0);
  EXPECT_EQ(attached_threads(), threadsBefore);
}

// An exception out of main or cleanup goes to the error hook as its
// toString(), and is still reported by the JVM itself, stack trace included,
// when the thread detaches; the thread does not stay attached.
TEST_F(AgentJniTest, UncaughtExceptionIsDescribedAndStillReportedByTheJvm) {
  const int threadsBefore = attached_threads();
  for (const bool inMain : {true, false}) {
    const std::string call = inMain ? "main" : "cleanup";
    SCOPED_TRACE(call);
    const std::string exception = inMain ? "java.lang.IllegalStateException: agent failed"
                                         : "java.lang.UnsupportedOperationException: cleanup failed";
    clear_failures();
    testing::internal::CaptureStderr();
    if (inMain) {
      start_agent_thread(record_for(kReturningAgent, {"throw"}));
      ASSERT_EQ(agent.wait_for(10s), std::future_status::ready);
      EXPECT_EQ(agent.get(), kAgentMainThrew);
    } else {
      start_cleanup_thread(kReturningAgent);
      ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
      EXPECT_TRUE(stop.get());
    }
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::regex_search(reported, std::regex("Exception in thread \"[^\"]+\" " + exception +
                                                       "\n\tat com.torvik.pravend.coralind.agent.ReturningAgent." +
                                                       call + "\\(")))
        << reported;
    EXPECT_EQ(failures(), std::vector<std::string>{(inMain ? "The agent failed: " : "The agent's cleanup failed: ") +
                                                   std::string(kReturningAgent) + "." + call +
                                                   " ended with an uncaught exception - " + exception});
    EXPECT_EQ(attached_threads(), threadsBefore);
  }
}

// The exception's text reaches the hook as the JVM holds it: no character of
// it is re-encoded on the way.
TEST_F(AgentJniTest, ExceptionTextOutsideAsciiIsHandedOverUnitForUnit) {
  clear_failures();
  testing::internal::CaptureStderr();
  start_agent_thread(record_for(kReturningAgent, {"throwLocalized"}));
  ASSERT_EQ(agent.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(agent.get(), kAgentMainThrew);
  testing::internal::GetCapturedStderr();
  const std::u16string exception = u"java.lang.IllegalStateException: Datei nicht gefunden: \u00e4\u0416\U0001D11E";
  EXPECT_EQ(failures16(), std::vector<std::u16string>{u"The agent failed: " + widened(kReturningAgent) +
                                                      u".main ended with an uncaught exception - " + exception});
}

// A failed lookup says why, with the exception it left; that exception is
// cleared, so the thread detaches and ends normally.
TEST_F(AgentJniTest, MissingClassOrMainSkipsTheCallAndDetaches) {
  const int threadsBefore = attached_threads();
  const struct {
    const char* className;
    std::string text;
  } cases[] = {
      {kMissingAgent, std::string("The agent did not start: class ") + kMissingAgent +
                          " not found - java.lang.NoClassDefFoundError: " + kMissingAgent},
      {"java/lang/Object",
       "The agent did not start: class java/lang/Object has no static method main with signature "
       "([Ljava/lang/String;)V - java.lang.NoSuchMethodError: static Ljava/lang/Object;.main([Ljava/lang/String;)V"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.className);
    clear_failures();
    start_agent_thread(record_for(c.className));
    ASSERT_EQ(agent.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(agent.get(), kAgentMainNotCalled);
    EXPECT_EQ(attached_threads(), threadsBefore);
    EXPECT_EQ(failures(), std::vector<std::string>{c.text});
  }
  EXPECT_EQ(static_int(kAgentClassName, "mainCalls"), 0);
}

TEST_F(AgentJniTest, CleanupOfClassWithoutCleanupCallsNothing) {
  const int threadsBefore = attached_threads();
  start_cleanup_thread(kNoCleanupAgent);
  ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(stop.get());
  EXPECT_EQ(static_int(kNoCleanupAgent, "lookAlikeCalls"), 0);
  EXPECT_EQ(attached_threads(), threadsBefore);
  EXPECT_EQ(failures(), std::vector<std::string>{std::string("The agent was not asked to clean up: class ") +
                                                 kNoCleanupAgent +
                                                 " has no static method cleanup with signature ()V - "
                                                 "java.lang.NoSuchMethodError: static L" +
                                                 kNoCleanupAgent + ";.cleanup()V"});
}

TEST_F(AgentJniTest, CleanupOfMissingClassCallsNothing) {
  const int threadsBefore = attached_threads();
  start_cleanup_thread(kMissingAgent);
  ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(stop.get());
  EXPECT_EQ(static_int(kAgentClassName, "cleanupCalls"), 0);
  EXPECT_EQ(attached_threads(), threadsBefore);
  EXPECT_EQ(failures(), std::vector<std::string>{std::string("The agent was not asked to clean up: class ") +
                                                 kMissingAgent + " not found - java.lang.NoClassDefFoundError: " +
                                                 kMissingAgent});
}

TEST_F(AgentJniTest, CleanupBeforeMainLetsALaterMainReturnAtOnce) {
  // A stop that reaches the agent before its main runs still ends it.
  start_cleanup_thread(kAgentClassName);
  ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(stop.get());
  start_agent_thread(record_for(kAgentClassName));
  ASSERT_EQ(agent.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(agent.get(), 0);
  EXPECT_TRUE(static_bool(kAgentClassName, "mainReturned"));
}

// The JVM ending the process reaches the host's hooks first. Each case runs
// alone, with no JVM made yet, in a child whose hooks write to a pipe.
int g_hookPipe = -1;  // the child's end

void JNICALL exit_hook(jint status) { dprintf(g_hookPipe, "exit %d", static_cast<int>(status)); }

void JNICALL abort_hook() {  // the given-up text of a JVM that aborted while created
  dprintf(g_hookPipe, "%s", with_last_jvm_messages(jvm_aborted_while_created()).text);
}

jint create_hooked_jvm(const std::vector<std::string>& extraOptions, JavaVM** vm) {
  static const JvmEndHooks hooks = {exit_hook, abort_hook};
  auto entry = reinterpret_cast<CreateJavaVmEntry>(dlsym(dlopen(JVM_LIBRARY_PATH, RTLD_NOW), "JNI_CreateJavaVM"));
  std::vector<std::string> options;
  if (entry == nullptr || !compose_jvm_options(TEST_CLASSES_DIR, "/opt/K", "/srv/All", options)) return -100;
  options.insert(options.end(), extraOptions.begin(), extraOptions.end());
  return create_java_vm(entry, options, vm, &hooks);
}

// What the child's hooks told, and its exit status.
std::pair<std::string, int> run_in_child(const std::function<int()>& body) {
  EXPECT_EQ(g_vm, nullptr) << "run alone: --gtest_filter=JvmEndsTheProcess.*";
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
    return 50 + create_hooked_jvm({"-Xms8g", "-Xmx8g"}, &vm);  // not reached: the JVM ends the process
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
    if (create_hooked_jvm({}, &vm) != JNI_OK) return 101;
    run_agent_main(vm, record_for(kReturningAgent, {"exit", "3"}), nullptr);
    return 102;  // not reached: System.exit ends the process
  });
  EXPECT_EQ(told, "exit 3");
  EXPECT_EQ(status, 3);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(filter).rfind("JvmEndsTheProcess.", 0) != 0)
    ::testing::AddGlobalTestEnvironment(new JvmEnvironment);
  return RUN_ALL_TESTS();
}
