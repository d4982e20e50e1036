// The credential tool's run: check the arguments, have the password
// encrypted, rewrite the configuration through its temporary file, restart
// the two services. The platform's operations come in through
// CredentialPlatform, so the whole run is portable and testable.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

struct CredentialPlatform {
  // Runs a command line through the command interpreter and waits for it.
  // Wide, so the interpreter gets the characters themselves, not bytes that
  // the system's code page would decode.
  std::function<int(const std::wstring& command)> run_command;
  std::function<std::FILE*(const char* path, const char* mode)> open_file;
  // Flushes an open file's data through to the disk; 0 on success.
  std::function<int(std::FILE* file)> commit_file;
  // 0 when the file was removed, otherwise the error number (ENOENT: there
  // was no such file).
  std::function<int(const char* path)> remove_file;
  // Puts `replacement` in the place of `replaced`, which keeps its
  // permissions, owner and attributes, with no moment without either. On
  // failure returns false and the system's reason ("<text> (0x<code>)").
  std::function<bool(const char* replaced, const char* replacement, std::string& reason)> replace_file;
  // true: Ctrl+C and Ctrl+Break no longer end this program (the commands it
  // runs keep their own handling); false: they do again.
  std::function<void(bool ignore)> ignore_interrupts;
  std::function<void(const std::string& text)> print;
  std::function<void(const wchar_t* text)> print_wide;
};

extern const char* const kPasswordFile;
extern const char* const kConfigFile;
extern const char* const kConfigTempFile;

// Encrypts the password and writes both into the configuration. Prints its
// one message on failure; returns 0 on success and 1 on failure. The old
// configuration is replaced only after the new one has been written whole.
// Interrupts are ignored from just before the replace: on success they stay
// ignored for restart_services, which restores them; a failure restores them.
int update_credentials(const std::string& user, const std::string& password,
                       const CredentialPlatform& platform);

// Stops the web server and the agent, then starts the agent and the web
// server, appending their output to result.txt. Their statuses are not used.
// Called with interrupts ignored (see update_credentials), so that all four
// run; restores them after the last.
void restart_services(const CredentialPlatform& platform);

// "<system text without its line end> (0x<code>)", or "(0x<code>)" alone
// when the system has no text for the code.
std::string system_reason(const char* system_text, unsigned long code);

// The whole program for the wide argument vector (program name first).
void run_credential_tool(int argc, const wchar_t* const* argv, const CredentialPlatform& platform);
