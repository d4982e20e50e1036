#include "jvm_end_hooks.h"

#include <windows.h>

#include <atomic>

#include "agent_output_capture.h"
#include "failure_text.h"
#include "jvm_end.h"
#include "jvm_setup.h"
#include "service_status.h"
#include "status_reporter.h"

namespace {

// How long main lets the JVM end the process before it ends it itself.
constexpr DWORD kJvmEndGraceMs = 5000;
// The status of a process that the JVM ends by aborting.
constexpr int kAbortStatus = 1;

std::atomic<bool> g_launched{false};
std::atomic<bool> g_stopAsked{false};
std::atomic<bool> g_ending{false};  // the first hook has taken over
std::atomic<int> g_endStatus{0};

// Nothing here waits for a lock that another thread may hold for long: the
// event and the report each take a short-held lock at most, and the JVM's own
// threads are stopped (no JNI is called).
void answer_jvm_end(JvmEnd end, int status) {
  if (g_ending.exchange(true)) return;  // the JVM ends once
  g_endStatus = status;
  const bool launched = g_launched;
  FailureText text;
  if (!launched)
    text = end == JvmEnd::Exit ? jvm_exited_while_created(status) : jvm_aborted_while_created();
  else if (end == JvmEnd::Exit)
    text = agent_ended_process(status);
  else
    text = jvm_aborted(crash_report_path(program_log_folder(), GetCurrentProcessId()));
  // An agent's own exit needs no JVM messages; every other end shows them.
  error_hook(launched && end == JvmEnd::Exit ? text.text : with_last_jvm_messages(text).text);

  finish_agent_output();
  const JvmEndReport decided = jvm_end_report(end, status, launched, g_stopAsked);
  if (decided.failed)
    report_failure(decided.code);
  else
    report(kStateStopped, 0, 0);
}

void JNICALL exit_hook(jint status) { answer_jvm_end(JvmEnd::Exit, status); }
void JNICALL abort_hook() { answer_jvm_end(JvmEnd::Abort, kAbortStatus); }

}  // namespace

const JvmEndHooks& host_jvm_end_hooks() {
  static const JvmEndHooks hooks = {exit_hook, abort_hook};
  return hooks;
}

void note_agent_launched() { g_launched = true; }

void note_stop_asked() { g_stopAsked = true; }

int service_exit_status(int normalStatus) {
  if (!g_ending) return normalStatus;
  Sleep(kJvmEndGraceMs);
  return g_endStatus;
}
