#pragma once

// The service host's event source in the Application event log. Win32 side.

// Writes text as an error event of the source (one insertion string for the
// message table's one message, which shows it as it is). The event holds
// UTF-16: a text in the ANSI code page is converted. Silent on failure.
void write_error_event(const char* text);
void write_error_event(const wchar_t* text);

// Writes text as a warning event of the source, in the same way.
void write_warning_event(const wchar_t* text);

// Registers the source for the program at modulePath: its key under
// ...\EventLog\Application with EventMessageFile (this program, which carries
// the message table) and TypesSupported. Silent on failure.
void register_event_source(const char* modulePath);

// Deletes the source's key. Silent on failure.
void remove_event_source();
