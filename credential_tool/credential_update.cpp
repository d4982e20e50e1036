#include "credential_update.h"

#include "argument_text.h"
#include "config_rewrite.h"
#include "encrypt_command.h"

#include <cerrno>
#include <cstdio>
#include <new>

const char* const kPasswordFile = ".\\password.txt";
const char* const kConfigFile = ".\\config\\server.properties";
const char* const kConfigTempFile = ".\\config\\server.properties.tmp";
const char* const kConfigBackupFile = ".\\config\\server.properties.bak";

namespace {

const wchar_t* const kServiceCommands[] = {
    L"net stop veltrixWebServer >> result.txt 2>&1",
    L"net stop veltrixQuorvexAgent >> result.txt 2>&1",
    L"net start veltrixQuorvexAgent >> result.txt 2>&1",
    L"net start veltrixWebServer >> result.txt 2>&1",
};

// Reads the first line of the encrypt script's output. Prints the failure
// and returns false when there is none or when it is empty.
bool read_encrypted_password(std::FILE* file, std::string& encrypted,
                             const CredentialPlatform& platform) {
  // Hundreds of MB in one line exhaust a 32-bit process.
  try {
    LineReader reader(file, 4096);
    std::string first_line;
    if (!reader.next(first_line)) {
      platform.print("Error: credential setting error\n");
      return false;
    }
    encrypted = encrypted_value(first_line);
  } catch (const std::bad_alloc&) {
    platform.print(std::string("Error: not enough memory to read ") + kPasswordFile + "; " + kConfigFile +
                   " is unchanged\n");
    return false;
  }
  if (encrypted.empty()) {
    platform.print("Error: credential setting failed\n");
    return false;
  }
  return true;
}

const char* missing_key_lines(RewriteResult result) {
  switch (result) {
    case RewriteResult::no_userid_line:
      return "no userid= line";
    case RewriteResult::no_password_line:
      return "no password= line";
    case RewriteResult::no_key_lines:
      return "no userid= line and no password= line";
    default:
      return nullptr;
  }
}

// A run of an earlier version, which deleted the old configuration before
// renaming the new one, could end between the two and leave the whole
// configuration in the temporary file; it is left for the administrator to
// look at, never renamed here.
void print_interrupted_run(const CredentialPlatform& platform) {
  std::FILE* left = platform.open_file(kConfigTempFile, "r");
  if (left == nullptr) {
    return;
  }
  std::fclose(left);
  platform.print(std::string(kConfigTempFile) + " holds the configuration of an interrupted run; rename it to " +
                 kConfigFile + " to use it\n");
}

// Writes the new configuration into the temporary file. On failure prints
// the reason, removes the temporary file and returns false: the old
// configuration is untouched.
bool write_new_configuration(const std::string& user, const std::string& encrypted,
                             const CredentialPlatform& platform) {
  std::FILE* input = platform.open_file(kConfigFile, "r");
  if (input == nullptr) {
    platform.print("Error:reinstall package\n");
    print_interrupted_run(platform);
    return false;
  }
  // A file left under the temporary name may be a link to someone else's
  // file or carry looser permissions than the configuration: it is removed,
  // never written into.
  const int leftover = platform.remove_file(kConfigTempFile);
  if (leftover != 0 && leftover != ENOENT) {
    std::fclose(input);
    platform.print(std::string("Error: could not delete ") + kConfigTempFile + ", left by an earlier run; " +
                   kConfigFile + " is unchanged\n");
    return false;
  }
  std::FILE* output = platform.create_file_like(kConfigTempFile, kConfigFile);
  if (output == nullptr) {
    std::fclose(input);
    platform.print("Error: reinstall package\n");
    return false;
  }
  RewriteResult result = rewrite_configuration(input, output, user, encrypted);
  std::fclose(input);
  // On the disk before it replaces the old file: a power loss after the
  // replace must not leave an empty configuration with the old one gone.
  if (result == RewriteResult::ok && platform.commit_file(output) != 0) {
    result = RewriteResult::write_failed;
  }
  if (std::fclose(output) != 0 && result == RewriteResult::ok) {
    result = RewriteResult::write_failed;
  }
  if (result == RewriteResult::ok) {
    return true;
  }
  platform.remove_file(kConfigTempFile);
  if (result == RewriteResult::read_failed) {
    platform.print(std::string("Error: could not read ") + kConfigFile + "; it is unchanged\n");
  } else if (result == RewriteResult::out_of_memory) {
    platform.print(std::string("Error: not enough memory to read ") + kConfigFile + "; it is unchanged\n");
  } else if (const char* missing = missing_key_lines(result)) {
    platform.print(std::string("Error: ") + kConfigFile + " has " + missing + "; it is unchanged\n");
  } else {
    platform.print(std::string("Error: could not write ") + kConfigTempFile + "; " + kConfigFile +
                   " is unchanged\n");
  }
  return false;
}

// The message of a failed replace: each state that the system documents
// for a replace with a backup name leaves both configurations under names
// this tool knows. After ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 the old file has
// the backup's name and the new one its own; after every other failure both
// keep their names.
std::string replace_failure_text(unsigned long code, const std::string& reason) {
  const unsigned long old_under_backup_name = 1177;
  std::string text = std::string("Error: could not replace ") + kConfigFile + " - " + reason;
  if (code == old_under_backup_name) {
    return text + "; the old configuration is now in " + kConfigBackupFile + " and the new one in " +
           kConfigTempFile + ": rename one of them to " + kConfigFile + "\n";
  }
  return text + "; the old configuration is still in " + kConfigFile + ", the new one is in " +
         kConfigTempFile + "\n";
}

}  // namespace

int update_credentials(const std::string& user, const std::string& password,
                       const CredentialPlatform& platform) {
  std::wstring command;
  std::string refusal;
  if (!build_encrypt_command(password, command, refusal)) {
    platform.print(refusal);
    return 1;
  }
  std::string reason;
  if (!platform.prepare_commands(reason)) {
    platform.print("Error: could not make the commands use the system's command interpreter - " + reason +
                   "; nothing was changed\n");
    return 1;
  }
  // A password.txt left by an earlier run would pass for this run's output
  // if the script failed to write one.
  const int stale = platform.remove_file(kPasswordFile);
  if (stale != 0 && stale != ENOENT) {
    platform.print(std::string("Error: could not delete ") + kPasswordFile +
                   ", left by an earlier run; nothing was changed\n");
    return 1;
  }
  platform.run_command(command);

  std::FILE* password_file = platform.open_file(kPasswordFile, "r");
  if (password_file == nullptr) {
    platform.print("Error :credential generation failed\n");
    return 1;
  }
  std::string encrypted;
  const bool have_password = read_encrypted_password(password_file, encrypted, platform);
  std::fclose(password_file);
  if (!have_password) {
    return 1;  // the script's output stays on disk for inspection
  }
  const int kept = platform.remove_file(kPasswordFile);
  if (kept != 0 && kept != ENOENT) {
    platform.print(std::string("Warning: could not delete ") + kPasswordFile +
                   ", which holds the encrypted password; delete it by hand\n");
  }

  return write_new_configuration(user, encrypted, platform) ? 0 : 1;
}

InterruptsIgnored::InterruptsIgnored(const CredentialPlatform& platform) : platform_(platform) {
  platform_.ignore_interrupts(true);
}

InterruptsIgnored::~InterruptsIgnored() { platform_.ignore_interrupts(false); }

bool replace_configuration(const InterruptsIgnored& interrupts_ignored) {
  const CredentialPlatform& platform = interrupts_ignored.platform();
  std::string reason;
  const unsigned long failure = platform.replace_file(kConfigFile, kConfigTempFile, kConfigBackupFile, reason);
  if (failure != 0) {
    platform.print(replace_failure_text(failure, reason));
    return false;
  }
  const int kept = platform.remove_file(kConfigBackupFile);
  if (kept != 0 && kept != ENOENT) {
    platform.print(std::string("Warning: could not delete ") + kConfigBackupFile +
                   ", the old configuration with its encrypted password; delete it by hand\n");
  }
  return true;
}

void restart_services(const InterruptsIgnored& interrupts_ignored) {
  for (const wchar_t* command : kServiceCommands) {
    interrupts_ignored.platform().run_command(command);
  }
}

std::string system_reason(const char* system_text, unsigned long code) {
  std::string text = system_text != nullptr ? system_text : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  char number[32];
  std::snprintf(number, sizeof number, "(0x%lx)", code);
  return text.empty() ? number : text + " " + number;
}

void run_credential_tool(int argc, const wchar_t* const* argv, const CredentialPlatform& platform) {
  if (argc != 3) {
    platform.print_wide(L"Usage: Kestrune username password\n");
    return;
  }
  std::string user;
  std::string password;
  const ArgumentCheck user_check = to_latin1(argv[1], Tab::refused, user);
  if (user_check != ArgumentCheck::ok) {
    platform.print(argument_refusal("user name", user_check));
    return;
  }
  const ArgumentCheck password_check = to_latin1(argv[2], Tab::allowed, password);
  if (password_check != ArgumentCheck::ok) {
    platform.print(argument_refusal("password", password_check));
    return;
  }
  if (update_credentials(user, password, platform) != 0) {
    return;
  }
  {
    // From just before the replace until the last net command.
    const InterruptsIgnored interrupts_ignored(platform);
    if (!replace_configuration(interrupts_ignored)) {
      return;
    }
    restart_services(interrupts_ignored);
  }
  platform.print("Credentials Successfully changed\n");
}
