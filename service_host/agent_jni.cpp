#include "agent_jni.h"

#include <cstdio>

#include "failure_text.h"

namespace {

// Room for the description of a pending exception; a longer one is cut.
constexpr std::size_t kExceptionTextSize = 1024;

struct ExceptionText {
  char text[kExceptionTextSize] = "";
};

// Takes the pending exception, if any: clears it and describes it as its
// toString() does ("<class>: <message>"). Empty when none was pending.
ExceptionText take_pending_exception(JNIEnv* env) {
  ExceptionText taken;
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return taken;
  env->ExceptionClear();
  std::snprintf(taken.text, sizeof taken.text, "%s", "(an exception that cannot be described)");
  jclass thrownClass = env->GetObjectClass(thrown);
  jmethodID toString = env->GetMethodID(thrownClass, "toString", "()Ljava/lang/String;");
  jstring description =
      toString != nullptr ? static_cast<jstring>(env->CallObjectMethod(thrown, toString)) : nullptr;
  if (description != nullptr && !env->ExceptionCheck()) {
    if (const char* utf = env->GetStringUTFChars(description, nullptr)) {
      std::snprintf(taken.text, sizeof taken.text, "%s", utf);
      env->ReleaseStringUTFChars(description, utf);
    }
  }
  // Describing may itself have thrown; leave nothing pending.
  env->ExceptionClear();
  return taken;
}

void hand_over(FailureHook fail, const FailureText& failure) {
  if (fail != nullptr) fail(failure.text);
}

}  // namespace

jint create_java_vm(CreateJavaVmEntry entry, const std::vector<std::string>& options, JavaVM** vm) {
  std::vector<JavaVMOption> jvmOptions(options.size());
  for (size_t i = 0; i < options.size(); ++i) {
    jvmOptions[i].optionString = const_cast<char*>(options[i].c_str());
    jvmOptions[i].extraInfo = nullptr;
  }
  JavaVMInitArgs initArgs{};
  initArgs.version = JNI_VERSION_1_2;
  initArgs.nOptions = static_cast<jint>(jvmOptions.size());
  initArgs.options = jvmOptions.data();
  initArgs.ignoreUnrecognized = JNI_TRUE;
  JNIEnv* creatorEnv = nullptr;
  return entry(vm, reinterpret_cast<void**>(&creatorEnv), &initArgs);
}

jint run_agent_main(JavaVM* vm, const LaunchRecord& record, FailureHook fail) {
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
  if (jclass agentClass = env->FindClass(className)) {
    if (jmethodID mainMethod = env->GetStaticMethodID(agentClass, kAgentMainMethod, kAgentMainSignature))
      env->CallStaticVoidMethod(agentClass, mainMethod, arguments);
    else
      hand_over(fail, agent_method_missing(AgentCall::Main, className, take_pending_exception(env).text));
  } else {
    hand_over(fail, agent_class_missing(AgentCall::Main, className, take_pending_exception(env).text));
  }

  vm->DetachCurrentThread();
  return 0;
}

bool call_agent_cleanup(JavaVM* vm, const char* className, FailureHook fail) {
  JNIEnv* env = nullptr;
  const jint attached = vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  if (attached < 0) {
    hand_over(fail, agent_not_attached(AgentCall::Cleanup, className, attached));
    return false;
  }
  if (jclass agentClass = env->FindClass(className)) {
    if (jmethodID cleanup = env->GetStaticMethodID(agentClass, kAgentCleanupMethod, kAgentCleanupSignature))
      env->CallStaticVoidMethod(agentClass, cleanup);
    else
      hand_over(fail, agent_method_missing(AgentCall::Cleanup, className, take_pending_exception(env).text));
  } else {
    hand_over(fail, agent_class_missing(AgentCall::Cleanup, className, take_pending_exception(env).text));
  }
  vm->DetachCurrentThread();
  return true;
}
