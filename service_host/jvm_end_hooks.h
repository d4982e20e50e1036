#pragma once

// The host's exit and abort hooks for the JVM: when the JVM ends the process
// itself, the event log says why and the SCM gets its stopped report first.
// Win32 side of jvm_end.h.

#include "agent_jni.h"

const JvmEndHooks& host_jvm_end_hooks();

// What the hooks need to know of the agent's life; each is called once its
// moment has come.
void note_agent_launched();
void note_stop_asked();

// For main, once the service has reported stopped: when a hook of the JVM
// made that report, the JVM is ending the process; this lets it (waiting a
// bounded time) and returns the status the JVM gave, so the process's status
// stays the JVM's. Otherwise returns normalStatus at once.
int service_exit_status(int normalStatus);
