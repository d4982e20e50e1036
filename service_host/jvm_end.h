#pragma once

// What the host keeps of the JVM's own messages, and what it reports when the
// JVM ends the process itself (its exit and abort hooks). Portable: the hooks
// of agent_jni.cpp and jvm_end_hooks.cpp come here.

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "failure_text.h"

// The newest bytes of the JVM's messages that are kept for the event log.
constexpr std::size_t kJvmMessagesKept = 4096;

// A ring of the newest kJvmMessagesKept bytes. Adding allocates nothing and
// holds its lock only for a copy: the JVM calls it from any of its threads,
// also while it is ending the process.
class JvmMessageRing {
 public:
  void add(const char* text, std::size_t length);
  // Copies the newest bytes kept, oldest first, into out (at most capacity
  // bytes; no terminator). Returns the number copied.
  std::size_t copy_newest(char* out, std::size_t capacity);

 private:
  void lock();
  void unlock() { busy_.clear(std::memory_order_release); }

  char bytes_[kJvmMessagesKept] = {};
  std::size_t total_ = 0;  // bytes ever added; the next one goes to total_ % size
  std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
};

// The process's ring of the JVM's messages.
JvmMessageRing& jvm_messages();

// text, ended with the newest of the JVM's messages kept in jvm_messages().
FailureText with_last_jvm_messages(const FailureText& text);

// One message of the JVM (its vfprintf hook): written to standard error as
// the JVM would have written it, and kept in jvm_messages(). Returns the
// number of characters written, or a negative number, as vfprintf does.
int keep_jvm_message(const char* format, std::va_list args);

// How the JVM ended the process: its exit hook (System.exit, Runtime.halt,
// or a JVM that gives up while it is created) or its abort hook (a fatal error).
enum class JvmEnd { Exit, Abort };

// The stopped report for an end: failed says 1066 with code; otherwise 0/0.
struct JvmEndReport {
  bool failed;
  std::uint32_t code;
};

// Before the agent was launched the start is given up (a stop that was asked
// for makes it a plain stop, as for every given-up start). After it, an exit
// with status 0, or any exit while a stop was asked for, is the agent's own
// choice; another status and every abort are failures with codes of their own.
JvmEndReport jvm_end_report(JvmEnd end, int status, bool launched, bool stopAsked);
