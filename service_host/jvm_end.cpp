#include "jvm_end.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "agent_lifecycle.h"

namespace {

// Room for one formatted message; a longer one is written whole to standard
// error but kept cut to this size.
constexpr std::size_t kMessageRoom = 2048;

}  // namespace

void JvmMessageRing::lock() {
  while (busy_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}

void JvmMessageRing::add(const char* text, std::size_t length) {
  // Only the newest kJvmMessagesKept bytes can stay.
  if (length > kJvmMessagesKept) {
    text += length - kJvmMessagesKept;
    length = kJvmMessagesKept;
  }
  lock();
  for (std::size_t i = 0; i < length; ++i) bytes_[(total_ + i) % kJvmMessagesKept] = text[i];
  total_ += length;
  unlock();
}

std::size_t JvmMessageRing::copy_newest(char* out, std::size_t capacity) {
  lock();
  std::size_t count = total_ < kJvmMessagesKept ? total_ : kJvmMessagesKept;
  if (count > capacity) count = capacity;
  const std::size_t first = total_ - count;
  for (std::size_t i = 0; i < count; ++i) out[i] = bytes_[(first + i) % kJvmMessagesKept];
  unlock();
  return count;
}

JvmMessageRing& jvm_messages() {
  // Never destroyed: the JVM may still write while the process ends.
  static JvmMessageRing& ring = *new JvmMessageRing;
  return ring;
}

FailureText with_last_jvm_messages(const FailureText& text) {
  char messages[kJvmMessagesKept];
  const std::size_t length = jvm_messages().copy_newest(messages, sizeof messages);
  return with_jvm_messages(text, messages, length);
}

int keep_jvm_message(const char* format, std::va_list args) {
  char message[kMessageRoom];
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(message, sizeof message, format, args);
  if (length < 0) {
    va_end(again);
    return length;
  }
  const std::size_t kept = static_cast<std::size_t>(length) < sizeof message ? length : sizeof message - 1;
  jvm_messages().add(message, kept);
  const int written = kept == static_cast<std::size_t>(length)
                          ? static_cast<int>(std::fwrite(message, 1, kept, stderr))
                          : std::vfprintf(stderr, format, again);
  va_end(again);
  return written;
}

JvmEndReport jvm_end_report(JvmEnd end, int status, bool launched, bool stopAsked) {
  if (!launched) return stopAsked ? JvmEndReport{false, 0} : JvmEndReport{true, kExitStartGivenUp};
  if (end == JvmEnd::Abort) return JvmEndReport{true, kExitJvmAborted};
  if (status == 0 || stopAsked) return JvmEndReport{false, 0};
  return JvmEndReport{true, kExitAgentExited};
}
