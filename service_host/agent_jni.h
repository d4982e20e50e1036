#pragma once

// The JNI calls that create the JVM and start and stop the agent. Nothing
// here touches the Win32 API, so the same code runs against a real JVM in the
// native tests.

#include <jni.h>

#include <string>
#include <vector>

#include "agent_end.h"
#include "launch_record.h"

// Receives the text of a failure (the error hook); may be null.
using FailureHook = void (*)(const char* text);
// The same for the agent's failures, whose texts carry Java text: UTF-16.
using AgentFailureHook = void (*)(const char16_t* text);

// The signature of the invocation entry point JNI_CreateJavaVM.
using CreateJavaVmEntry = jint(JNICALL*)(JavaVM** vm, void** env, void* args);

// The host's answers when the JVM ends the process itself (JNI's "exit" and
// "abort" options). Neither may block: the JVM calls them while it ends.
struct JvmEndHooks {
  void(JNICALL* exit)(jint status);
  void(JNICALL* abort)();
};

// Creates the JVM with the given options, in their order, for JNI 1.2 with
// unrecognised options ignored. After them come the JVM's hooks: "vfprintf"
// (its messages go to standard error and to jvm_messages(), jvm_end.h) and,
// when endHooks is given, "exit" and "abort". Returns the entry point's result
// (>= 0 is success); the creating thread's JNIEnv is not kept.
jint create_java_vm(CreateJavaVmEntry entry, const std::vector<std::string>& options, JavaVM** vm,
                    const JvmEndHooks* endHooks = nullptr);

// Runs the body of the agent thread on the calling thread: attach, call the
// record's static main(String[]) with the record's arguments, detach. Returns
// the thread's exit code (agent_end.h): kAgentMainReturned, kAgentMainThrew,
// kAgentMainNotCalled, or the attach result when the attach failed (after
// writing "Attach of <class> thread failed" to standard error).
// A failed attach, or a missing class or main method (which skips the call),
// hands its text to fail; the lookup's pending exception is described in it
// and cleared. An exception that main leaves is described to fail and left
// pending, so that the JVM reports it at the detach as any uncaught exception.
jint run_agent_main(JavaVM* vm, const LaunchRecord& record, AgentFailureHook fail);

// Calls the static cleanup()V of the class on the calling thread: attach,
// call (waiting until it returns), detach. A missing class or method calls
// nothing and hands its text to fail, as does a failed attach; an exception
// that cleanup leaves goes to fail and to the JVM's report, as main's does.
// Returns false when the thread could not be attached.
bool call_agent_cleanup(JavaVM* vm, const char* className, AgentFailureHook fail);
