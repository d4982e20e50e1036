#include "agent_jni.h"

#include <cstdio>

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

jint run_agent_main(JavaVM* vm, const LaunchRecord& record) {
  JNIEnv* env = nullptr;
  const jint attached = vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
  if (attached < 0) {
    std::fprintf(stderr, "Attach of %s thread failed\n", record.className.c_str());
    return attached;
  }

  jclass stringClass = env->FindClass(kStringClassName);
  jobjectArray arguments =
      env->NewObjectArray(static_cast<jsize>(record.arguments.size()), stringClass, nullptr);
  for (size_t i = 0; i < record.arguments.size(); ++i)
    env->SetObjectArrayElement(arguments, static_cast<jsize>(i), env->NewStringUTF(record.arguments[i].c_str()));

  // The thread stays in the agent's main for the agent's whole life.
  if (jclass agentClass = env->FindClass(record.className.c_str())) {
    if (jmethodID mainMethod = env->GetStaticMethodID(agentClass, kAgentMainMethod, kAgentMainSignature))
      env->CallStaticVoidMethod(agentClass, mainMethod, arguments);
  }

  vm->DetachCurrentThread();
  return 0;
}

bool call_agent_cleanup(JavaVM* vm, const char* className) {
  JNIEnv* env = nullptr;
  if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) < 0) return false;
  if (jclass agentClass = env->FindClass(className)) {
    if (jmethodID cleanup = env->GetStaticMethodID(agentClass, kAgentCleanupMethod, kAgentCleanupSignature))
      env->CallStaticVoidMethod(agentClass, cleanup);
  }
  vm->DetachCurrentThread();
  return true;
}
