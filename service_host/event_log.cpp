#include "event_log.h"

#include <windows.h>

#include <string>

#include "ostrad_messages.h"  // generated from ostrad_messages.mc
#include "service_identity.h"
#include "wide_text.h"
#include "win_handle.h"

namespace {

constexpr char kApplicationLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;  // 7

std::string source_key() { return std::string(kApplicationLogKey) + kEventSource; }

// The source is registered for each event: events are few (a failed start
// writes one or two), they come from any thread, and no handle then has to
// outlive the threads that may still write while the process ends.
void report_event(WORD type, DWORD messageId, const wchar_t* text) {
  HANDLE source = RegisterEventSourceW(nullptr, wide_from_ansi(kEventSource).c_str());
  if (source == nullptr) return;
  const wchar_t* strings[] = {text};
  ReportEventW(source, type, 0, messageId, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
}

}  // namespace

void write_error_event(const char* text) { write_error_event(wide_from_ansi(text).c_str()); }

void write_error_event(const wchar_t* text) { report_event(EVENTLOG_ERROR_TYPE, MSG_FAILURE_TEXT, text); }

void write_warning_event(const wchar_t* text) { report_event(EVENTLOG_WARNING_TYPE, MSG_WARNING_TEXT, text); }

void register_event_source(const char* modulePath) {
  RegistryKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, source_key().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, key.receive(), nullptr) != ERROR_SUCCESS)
    return;
  const DWORD pathSize = static_cast<DWORD>(lstrlenA(modulePath) + 1);  // terminating zero counted
  RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(modulePath),
                 pathSize);
  RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kTypesSupported),
                 sizeof kTypesSupported);
}

void remove_event_source() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, source_key().c_str()); }
