#pragma once

#include <string>
#include <vector>

class JvmServices;

// What the agent thread needs to know: which class's static main to run,
// with which arguments, in which JVM.
struct LaunchRecord {
  std::string className;               // JNI slash form
  std::vector<std::string> arguments;  // the service host adds none
  JvmServices* host = nullptr;         // not owned
};

// The agent class and its two static entry points.
constexpr const char kAgentClassName[] = "com/torvik/pravend/coralind/agent/ManagementAgent";
constexpr const char kAgentMainMethod[] = "main";
constexpr const char kAgentMainSignature[] = "([Ljava/lang/String;)V";
constexpr const char kAgentCleanupMethod[] = "cleanup";
constexpr const char kAgentCleanupSignature[] = "()V";
constexpr const char kStringClassName[] = "java/lang/String";
