#pragma once

#include <windows.h>

#include <jni.h>

#include "failure_text.h"
#include "launch_record.h"

// The JVM inside this process: finds the installation, prepares the search
// path, loads the "jvm" library, creates the JVM and starts the agent thread.
// One object per process, never destroyed: the JVM lives until the process ends.
class JvmServices {
 public:
  JvmServices();
  ~JvmServices();

  // Starts the agent thread for the record (which must outlive the thread);
  // returns its handle, owned by the caller, or null when no thread was made.
  virtual HANDLE launch(LaunchRecord* record);

  // 1 when the JVM was created, 0 when the start must be given up (its
  // cause then goes to the error hook).
  int createJvm();

  JavaVM* jvm() const { return _jvm; }

 private:
  bool tryCreateJvm(FailureText& why);

  JavaVM* _jvm;
};
