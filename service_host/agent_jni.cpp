#include "agent_jni.h"

#include <cstdio>

#include "failure_text.h"
#include "jvm_end.h"

namespace {

jint JNICALL keep_message_hook(FILE*, const char* format, va_list args) { return keep_jvm_message(format, args); }

// Room for the description of a pending exception, in UTF-16 units; a longer
// one is cut.
constexpr std::size_t kExceptionTextSize = 1024;

struct ExceptionText {
  std::u16string text;
};

// A Java string as the JVM holds it (UTF-16), at most kExceptionTextSize - 1
// units of it, never half a surrogate pair.
std::u16string java_text(JNIEnv* env, jstring text) {
  std::u16string taken;
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (chars == nullptr) return taken;
  std::size_t length = static_cast<std::size_t>(env->GetStringLength(text));
  if (length >= kExceptionTextSize) {
    length = kExceptionTextSize - 1;
    if (chars[length - 1] >= 0xD800 && chars[length - 1] <= 0xDBFF) --length;
  }
  taken.assign(chars, chars + length);
  env->ReleaseStringChars(text, chars);
  return taken;
}

// Describes a thrown object as its toString() does ("<class>: <message>").
// Nothing may be pending when it is called, and nothing is left pending.
ExceptionText describe(JNIEnv* env, jthrowable thrown) {
  ExceptionText taken{u"(an exception that cannot be described)"};
  jclass thrownClass = env->GetObjectClass(thrown);
  jmethodID toString = env->GetMethodID(thrownClass, "toString", "()Ljava/lang/String;");
  jstring description =
      toString != nullptr ? static_cast<jstring>(env->CallObjectMethod(thrown, toString)) : nullptr;
  if (description != nullptr && !env->ExceptionCheck()) taken.text = java_text(env, description);
  // Describing may itself have thrown; leave nothing pending.
  env->ExceptionClear();
  return taken;
}

// Takes the pending exception, if any: clears it and describes it. Empty when
// none was pending.
ExceptionText take_pending_exception(JNIEnv* env) {
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return ExceptionText{};
  env->ExceptionClear();
  return describe(env, thrown);
}

// After a call of the agent: false when it returned normally. Otherwise its
// exception is described to fail and thrown again (describing needs it
// cleared), so that the detach that follows reports it as the JVM reports an
// uncaught exception, stack trace included, on standard error.
bool report_uncaught_exception(JNIEnv* env, AgentCall call, const char* className, AgentFailureHook fail) {
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return false;
  env->ExceptionClear();
  const ExceptionText text = describe(env, thrown);
  if (fail != nullptr) fail(agent_call_threw(call, className, text.text.c_str()).text.c_str());
  env->Throw(thrown);
  return true;
}

void hand_over(AgentFailureHook fail, const AgentFailureText& failure) {
  if (fail != nullptr) fail(failure.text.c_str());
}

void hand_over(AgentFailureHook fail, const FailureText& failure) { hand_over(fail, {widened(failure.text)}); }

}  // namespace

jint create_java_vm(CreateJavaVmEntry entry, const std::vector<std::string>& options, JavaVM** vm,
                    const JvmEndHooks* endHooks) {
  std::vector<JavaVMOption> jvmOptions(options.size());
  for (size_t i = 0; i < options.size(); ++i) {
    jvmOptions[i].optionString = const_cast<char*>(options[i].c_str());
    jvmOptions[i].extraInfo = nullptr;
  }
  // The JVM takes each hook from its option's extraInfo.
  char vfprintfOption[] = "vfprintf", exitOption[] = "exit", abortOption[] = "abort";
  jvmOptions.push_back({vfprintfOption, reinterpret_cast<void*>(keep_message_hook)});
  if (endHooks != nullptr) {
    jvmOptions.push_back({exitOption, reinterpret_cast<void*>(endHooks->exit)});
    jvmOptions.push_back({abortOption, reinterpret_cast<void*>(endHooks->abort)});
  }
  JavaVMInitArgs initArgs{};
  initArgs.version = JNI_VERSION_1_2;
  initArgs.nOptions = static_cast<jint>(jvmOptions.size());
  initArgs.options = jvmOptions.data();
  initArgs.ignoreUnrecognized = JNI_TRUE;
  JNIEnv* creatorEnv = nullptr;
  return entry(vm, reinterpret_cast<void**>(&creatorEnv), &initArgs);
}

jint run_agent_main(JavaVM* vm, const LaunchRecord& record, AgentFailureHook fail) {
  const char* className = record.className.c_str();
  JNIEnv* env = nullptr;
  const jint attached = vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  if (attached < 0) {
    std::fprintf(stderr, "Attach of %s thread failed\n", className);
    hand_over(fail, agent_not_attached(AgentCall::Main, className, attached));
    return attached;
  }

  jclass stringClass = env->FindClass(kStringClassName);
  jobjectArray arguments =
      env->NewObjectArray(static_cast<jsize>(record.arguments.size()), stringClass, nullptr);
  for (size_t i = 0; i < record.arguments.size(); ++i)
    env->SetObjectArrayElement(arguments, static_cast<jsize>(i), env->NewStringUTF(record.arguments[i].c_str()));

  // The thread stays in the agent's main for the agent's whole life.
  jint ended = kAgentMainNotCalled;
  if (jclass agentClass = env->FindClass(className)) {
    if (jmethodID mainMethod = env->GetStaticMethodID(agentClass, kAgentMainMethod, kAgentMainSignature)) {
      env->CallStaticVoidMethod(agentClass, mainMethod, arguments);
      ended = report_uncaught_exception(env, AgentCall::Main, className, fail) ? kAgentMainThrew : kAgentMainReturned;
    } else {
      hand_over(fail, agent_method_missing(AgentCall::Main, className, take_pending_exception(env).text.c_str()));
    }
  } else {
    hand_over(fail, agent_class_missing(AgentCall::Main, className, take_pending_exception(env).text.c_str()));
  }

  vm->DetachCurrentThread();
  return ended;
}

bool call_agent_cleanup(JavaVM* vm, const char* className, AgentFailureHook fail) {
  JNIEnv* env = nullptr;
  const jint attached = vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  if (attached < 0) {
    hand_over(fail, agent_not_attached(AgentCall::Cleanup, className, attached));
    return false;
  }
  if (jclass agentClass = env->FindClass(className)) {
    if (jmethodID cleanup = env->GetStaticMethodID(agentClass, kAgentCleanupMethod, kAgentCleanupSignature)) {
      env->CallStaticVoidMethod(agentClass, cleanup);
      report_uncaught_exception(env, AgentCall::Cleanup, className, fail);
    } else {
      hand_over(fail, agent_method_missing(AgentCall::Cleanup, className, take_pending_exception(env).text.c_str()));
    }
  } else {
    hand_over(fail, agent_class_missing(AgentCall::Cleanup, className, take_pending_exception(env).text.c_str()));
  }
  vm->DetachCurrentThread();
  return true;
}
