// A jvm.dll without the JNI_CreateJavaVM entry: the host finds and loads it,
// then fails to look the entry up. It journals its load like the stand-in JVM.

#include <windows.h>

#include "journal.h"

extern "C" __declspec(dllexport) int fake_jvm_without_entry() { return 1; }

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(self);
    journal_open(self, "jvm_noentry");
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // FreeLibrary only: at process exit the other threads are gone, perhaps
    // holding the journal lock.
    journal("dll_unloaded name=jvm_noentry");
  }
  return TRUE;
}
