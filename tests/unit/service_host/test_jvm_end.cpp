// What the host keeps of the JVM's messages, and the report for each way the
// JVM can end the process.

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "agent_lifecycle.h"
#include "jvm_end.h"

namespace {

TEST(JvmEnd, EachEndReportsItsCode) {
  struct {
    JvmEnd end;
    int status;
    bool launched, stopAsked, failed;
    std::uint32_t code;
  } const cases[] = {
      {JvmEnd::Abort, 1, false, false, true, kExitStartGivenUp},  // gave up while created
      {JvmEnd::Exit, 1, false, false, true, kExitStartGivenUp},
      {JvmEnd::Abort, 1, false, true, false, 0},  // a stop had given the start up
      {JvmEnd::Exit, 0, true, false, false, 0},   // System.exit(0): the agent chose to end
      {JvmEnd::Exit, 3, true, false, true, kExitAgentExited},
      {JvmEnd::Exit, 3, true, true, false, 0},  // the stop's doing
      {JvmEnd::Abort, 1, true, true, true, kExitJvmAborted},
  };
  for (const auto& c : cases) {
    const JvmEndReport report = jvm_end_report(c.end, c.status, c.launched, c.stopAsked);
    EXPECT_EQ(std::make_pair(report.failed, report.code), std::make_pair(c.failed, c.code))
        << c.status << c.launched << c.stopAsked;
  }
}

std::string newest(JvmMessageRing& ring, std::size_t capacity = kJvmMessagesKept) {
  std::string out(capacity, '\0');
  out.resize(ring.copy_newest(&out[0], capacity));
  return out;
}

int keep(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = keep_jvm_message(format, args);
  va_end(args);
  return written;
}

TEST(JvmMessages, AreWrittenToStandardErrorAndTheNewestBytesKeptInOrder) {
  testing::internal::CaptureStderr();
  const std::string longText(3000, 'L');
  EXPECT_EQ(keep("%.*s %d\n", 5, "Errorless", 42), 9);
  EXPECT_EQ(keep("%s", longText.c_str()), 3000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error 42\n" + longText);  // a long one whole
  EXPECT_EQ(newest(jvm_messages()), "Error 42\n" + std::string(2047, 'L'));    // and kept cut to its room

  JvmMessageRing ring;
  ring.add("abcdef", 6);
  EXPECT_EQ(newest(ring, 4), "cdef");
  const std::string filler(kJvmMessagesKept - 2, 'x');
  ring.add(filler.data(), filler.size());
  EXPECT_EQ(newest(ring), "ef" + filler);  // wrapped
  const std::string big = std::string(kJvmMessagesKept, 'y') + "z";
  ring.add(big.data(), big.size());
  EXPECT_EQ(newest(ring), big.substr(1));
}

}  // namespace
