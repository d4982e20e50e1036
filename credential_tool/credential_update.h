// The credential tool's run: check the arguments, have the password
// encrypted, rewrite the configuration through its temporary file, restart
// the two services. The platform's operations come in through
// CredentialPlatform, so the whole run is portable and testable.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

struct CredentialPlatform {
  // Makes the commands that run_command runs find their programs only where
  // the system keeps them: the command interpreter from the system folder,
  // `net` on the Path, never in the current folder. Called once, before the
  // first command; on failure returns false and the system's reason.
  std::function<bool(std::string& reason)> prepare_commands;
  // Runs a command line through the command interpreter and waits for it.
  // Wide, so the interpreter gets the characters themselves, not bytes that
  // the system's code page would decode.
  std::function<int(const std::wstring& command)> run_command;
  std::function<std::FILE*(const char* path, const char* mode)> open_file;
  // Creates `path`, which must not exist, for writing in text mode, open to
  // no one else, with the access list of `like` (the folder's inherited
  // permissions when that list cannot be read); nullptr when it cannot.
  std::function<std::FILE*(const char* path, const char* like)> create_file_like;
  // Flushes an open file's data through to the disk; 0 on success.
  std::function<int(std::FILE* file)> commit_file;
  // 0 when the file was removed, otherwise the error number (ENOENT: there
  // was no such file).
  std::function<int(const char* path)> remove_file;
  // Puts `replacement` in the place of `replaced`, which is renamed to
  // `backup` first; the replacement takes over its permissions and
  // attributes. Returns 0, or the system's error code (whose documented
  // state says which file holds what) with its reason ("<text> (0x<code>)").
  std::function<unsigned long(const char* replaced, const char* replacement, const char* backup,
                              std::string& reason)>
      replace_file;
  // true: Ctrl+C and Ctrl+Break no longer end this program (the commands it
  // runs keep their own handling); false: they do again. Used through
  // InterruptsIgnored only.
  std::function<void(bool ignore)> ignore_interrupts;
  std::function<void(const std::string& text)> print;
  std::function<void(const wchar_t* text)> print_wide;
};

extern const char* const kPasswordFile;
extern const char* const kConfigFile;
extern const char* const kConfigTempFile;
extern const char* const kConfigBackupFile;

// While an object of this type lives, Ctrl+C and Ctrl+Break do not end the
// program. An interrupt between the replace and the last net command would
// leave the new configuration in place with the services still running on
// the old one: run_credential_tool holds one over exactly that stretch, and
// the steps that must not be cut short take it as proof.
class InterruptsIgnored {
public:
  explicit InterruptsIgnored(const CredentialPlatform& platform);
  ~InterruptsIgnored();
  InterruptsIgnored(const InterruptsIgnored&) = delete;
  InterruptsIgnored& operator=(const InterruptsIgnored&) = delete;

  const CredentialPlatform& platform() const { return platform_; }

private:
  const CredentialPlatform& platform_;
};

// Encrypts the password and writes the new configuration into the
// temporary file. Prints its one message on failure; returns 0 on success
// and 1 on failure, with the old configuration untouched either way.
int update_credentials(const std::string& user, const std::string& password,
                       const CredentialPlatform& platform);

// Puts the new configuration in the old one's place, the old one kept as the
// backup until the replace has succeeded. On failure prints which files now
// hold the old and the new configuration and returns false.
bool replace_configuration(const InterruptsIgnored& interrupts_ignored);

// Stops the web server and the agent, then starts the agent and the web
// server, appending their output to result.txt. Their statuses are not used.
void restart_services(const InterruptsIgnored& interrupts_ignored);

// "<system text without its line end> (0x<code>)", or "(0x<code>)" alone
// when the system has no text for the code.
std::string system_reason(const char* system_text, unsigned long code);

// The whole program for the wide argument vector (program name first).
void run_credential_tool(int argc, const wchar_t* const* argv, const CredentialPlatform& platform);
