#include "credential_update.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// While nonzero, every allocation larger than this fails as it would when a
// line of hundreds of MB meets a 32-bit address space.
std::size_t g_allocation_limit = 0;

class AllocationLimit {
public:
  explicit AllocationLimit(std::size_t bytes) { g_allocation_limit = bytes; }
  ~AllocationLimit() { g_allocation_limit = 0; }
  AllocationLimit(const AllocationLimit&) = delete;
  AllocationLimit& operator=(const AllocationLimit&) = delete;
};

}  // namespace

void* operator new(std::size_t size) {
  if (g_allocation_limit != 0 && size > g_allocation_limit) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size != 0 ? size : 1)) {
    return memory;
  }
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

// A product folder in a temporary directory, with the tool's Windows paths
// mapped into it, a scripted encrypt command and a record of every command,
// message and file operation.
class ProductFolder : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrune-unit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    ASSERT_EQ(mkdir((root_ + "/config").c_str(), 0700), 0);
    platform_.prepare_commands = [this](std::string& reason) {
      reason = "(0x8)";
      operations_.push_back("commands prepared");
      return !refuse_prepare_;
    };
    platform_.run_command = [this](const std::wstring& wide_command) {
      std::string command;  // one byte per character, as the arguments allow
      for (wchar_t c : wide_command) {
        EXPECT_LE(static_cast<unsigned long>(c), 0xFFul);
        command.push_back(static_cast<char>(c));
      }
      commands_.push_back(command);
      if (command.rfind(".\\encrypt.bat", 0) == 0 && encrypt_writes_) {
        write_file("password.txt", encrypt_output_);
      }
      return command == fail_command_ ? 2 : 0;
    };
    platform_.open_file = [this](const char* path, const char* mode) {
      return std::fopen(local(path).c_str(), mode);
    };
    platform_.create_file_like = [this](const char* path, const char* like) {
      operations_.push_back(std::string("create ") + path + " like " + like);
      if (refuse_create_) return static_cast<std::FILE*>(nullptr);
      return full_temp_file_ ? std::fopen("/dev/full", "w") : std::fopen(local(path).c_str(), "wx");
    };
    platform_.commit_file = [this](std::FILE*) {
      operations_.push_back("commit");
      return refuse_commit_ ? -1 : 0;
    };
    platform_.remove_file = [this](const char* path) {
      operations_.push_back(std::string("remove ") + path);
      if (path == refuse_remove_ && exists(local(path).substr(root_.size() + 1))) {
        return EACCES;  // as for a read-only file
      }
      return std::remove(local(path).c_str()) == 0 ? 0 : errno;
    };
    // The states documented for a replace with a backup name: only after
    // 1177 (or a success) has the replaced file the backup's name.
    platform_.replace_file = [this](const char* replaced, const char* replacement, const char* backup,
                                    std::string& reason) {
      operations_.push_back(std::string("replace ") + replaced + " " + replacement + " " + backup);
      reason = "Access is denied. (0x5)";
      if (replace_failure_ == 0 || replace_failure_ == 1177) {
        std::rename(local(replaced).c_str(), local(backup).c_str());
      }
      if (replace_failure_ == 0) std::rename(local(replacement).c_str(), local(replaced).c_str());
      return replace_failure_;
    };
    // In both records: where the window opens among the file operations and
    // where it closes among the commands.
    platform_.ignore_interrupts = [this](bool ignore) {
      const char* event = ignore ? "interrupts ignored" : "interrupts restored";
      commands_.push_back(event);
      operations_.push_back(event);
    };
    platform_.print = [this](const std::string& text) { output_ += text; };
    platform_.print_wide = [this](const wchar_t* text) {
      for (const wchar_t* p = text; *p; ++p) output_ += static_cast<char>(*p);
    };
  }

  void TearDown() override {
    const std::string command = "rm -rf '" + root_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  // ".\config\server.properties" -> <root>/config/server.properties
  std::string local(const std::string& windows_path) const {
    std::string path = windows_path.rfind(".\\", 0) == 0 ? windows_path.substr(2) : windows_path;
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    return root_ + "/" + path;
  }

  void write_file(const std::string& relative, const std::string& bytes) const {
    std::ofstream(root_ + "/" + relative, std::ios::binary) << bytes;
  }

  bool exists(const std::string& relative) const {
    struct stat info;
    return stat((root_ + "/" + relative).c_str(), &info) == 0;
  }

  std::string read_file(const std::string& relative) const {
    std::ifstream file(root_ + "/" + relative, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }

  void run(std::vector<const wchar_t*> args) {
    args.insert(args.begin(), L"Kestrune");
    run_credential_tool(static_cast<int>(args.size()), args.data(), platform_);
  }

  std::vector<std::string> service_commands() const {
    std::vector<std::string> net;
    for (const std::string& command : commands_) {
      if (command.rfind("net ", 0) == 0) net.push_back(command);
    }
    return net;
  }

  // Runs with a failure expected: checks the message, that the configuration
  // is unchanged, no temporary file is left and no service was touched.
  void expect_failure(const std::string& message) { expect_failure(message, kOldConfig); }
  void expect_failure(const std::string& message, const std::string& config) {
    write_file("config/server.properties", config);
    run({L"admin", L"secret"});
    EXPECT_EQ(output_, message);
    EXPECT_EQ(read_file("config/server.properties"), config);
    EXPECT_FALSE(exists("config/server.properties.tmp"));
    EXPECT_TRUE(service_commands().empty());
  }

  const std::string kOldConfig = "port=8443\nuserid=old\npassword=old\n";
  std::string root_;
  CredentialPlatform platform_;
  std::vector<std::string> commands_;
  std::vector<std::string> operations_;
  std::string output_;
  bool encrypt_writes_ = true;
  std::string encrypt_output_ = "ENC:secret\n";
  std::string fail_command_;
  std::string refuse_remove_;
  unsigned long replace_failure_ = 0;
  bool refuse_prepare_ = false;
  bool refuse_create_ = false;
  bool refuse_commit_ = false;
  bool full_temp_file_ = false;
};

}  // namespace

TEST_F(ProductFolder, WrongArgumentCountPrintsUsageOnly) {
  write_file("config/server.properties", kOldConfig);
  for (std::vector<const wchar_t*> args : {std::vector<const wchar_t*>{}, {L"admin"}, {L"a", L"b", L"c"}}) {
    output_.clear();
    run(args);
    EXPECT_EQ(output_, "Usage: Kestrune username password\n");
  }
  EXPECT_TRUE(commands_.empty());
  EXPECT_EQ(read_file("config/server.properties"), kOldConfig);
}

TEST_F(ProductFolder, SuccessfulRunReplacesConfigurationAndRestartsServices) {
  write_file("config/server.properties", kOldConfig);
  run({L"Jos\u00e9", L"a b&c"});
  EXPECT_EQ(output_, "Credentials Successfully changed\n");
  EXPECT_EQ(read_file("config/server.properties"), "port=8443\nuserid=Jos\xe9\npassword=ENC:secret\n");
  EXPECT_FALSE(exists("password.txt"));
  EXPECT_FALSE(exists("config/server.properties.tmp"));
  const std::vector<std::string> expected = {
      ".\\encrypt.bat password.txt -e \"a b&c\"",
      "interrupts ignored",  // from before the replace: no new configuration without the restart
      "net stop veltrixWebServer >> result.txt 2>&1",
      "net stop veltrixQuorvexAgent >> result.txt 2>&1",
      "net start veltrixQuorvexAgent >> result.txt 2>&1",
      "net start veltrixWebServer >> result.txt 2>&1",
      "interrupts restored"};
  EXPECT_EQ(commands_, expected);
  const std::vector<std::string> file_operations = {
      "commands prepared",  // before the first command
      "remove .\\password.txt",  // before the script runs: none left from an earlier run
      "remove .\\password.txt",
      "remove .\\config\\server.properties.tmp",  // never written into: it may be a link to another file
      "create .\\config\\server.properties.tmp like .\\config\\server.properties", "commit", "interrupts ignored",
      "replace .\\config\\server.properties .\\config\\server.properties.tmp .\\config\\server.properties.bak",
      "remove .\\config\\server.properties.bak", "interrupts restored"};
  EXPECT_EQ(operations_, file_operations);
}

TEST_F(ProductFolder, FailedServiceCommandDoesNotStopTheOthers) {
  write_file("config/server.properties", kOldConfig);
  fail_command_ = "net stop veltrixWebServer >> result.txt 2>&1";
  run({L"admin", L"secret"});
  EXPECT_EQ(service_commands().size(), 4u);
  EXPECT_EQ(output_, "Credentials Successfully changed\n");
}

TEST_F(ProductFolder, RefusedArgumentsRunNothing) {
  struct Case {
    const wchar_t* user;
    const wchar_t* password;
    const char* message_start;
  };
  const std::wstring too_long(8162, L'p');  // its command line would be 8192 characters
  for (const Case& c : {Case{L"adm\u0100", L"secret", "Error: the user name holds a character above"},
                        Case{L"admin\npassword=x", L"secret", "Error: the user name holds a line break"},
                        Case{L"ad\tmin", L"secret", "Error: the user name holds a line break"},
                        Case{L"admin", L"\u4e00", "Error: the password holds a character above"},
                        Case{L"admin", L"a\"b", "Error: the password holds the character '\"'"},
                        Case{L"admin", L"%PATH%", "Error: the password holds the character '%'"},
                        Case{L"admin", L"a!b", "Error: the password holds the character '!'"},
                        Case{L"admin", L"a b\\", "Error: the password ends in a backslash"},
                        Case{L"admin", too_long.c_str(), "Error: the password is too long"}}) {
    output_.clear();
    write_file("config/server.properties", kOldConfig);
    run({c.user, c.password});
    EXPECT_EQ(output_.rfind(c.message_start, 0), 0u) << output_;
    EXPECT_TRUE(commands_.empty()) << output_;
    EXPECT_EQ(read_file("config/server.properties"), kOldConfig);
  }
}

TEST_F(ProductFolder, MissingEncryptOutputWithAStaleOneLeft) {
  write_file("password.txt", "ENC:stale\n");
  encrypt_writes_ = false;
  expect_failure("Error :credential generation failed\n");
  EXPECT_FALSE(exists("password.txt"));
}

TEST_F(ProductFolder, StalePasswordFileThatCannotBeDeleted) {
  write_file("password.txt", "ENC:stale\n");
  refuse_remove_ = kPasswordFile;
  expect_failure("Error: could not delete .\\password.txt, left by an earlier run; nothing was changed\n");
  EXPECT_TRUE(commands_.empty());
  refuse_prepare_ = true;
  output_.clear();
  expect_failure("Error: could not make the commands use the system's command interpreter - (0x8); nothing was "
                 "changed\n");
  EXPECT_TRUE(commands_.empty());
}

TEST_F(ProductFolder, EmptyEncryptOutput) {
  encrypt_output_ = "";
  expect_failure("Error: credential setting error\n");
  EXPECT_TRUE(exists("password.txt"));
}

TEST_F(ProductFolder, EncryptOutputOfOnlyALineEnd) {
  encrypt_output_ = "\r\n";
  expect_failure("Error: credential setting failed\n");
  EXPECT_TRUE(exists("password.txt"));
}

TEST_F(ProductFolder, MissingConfiguration) {
  run({L"admin", L"secret"});
  EXPECT_EQ(output_, "Error:reinstall package\n");
  EXPECT_FALSE(exists("password.txt"));
  EXPECT_TRUE(service_commands().empty());
  write_file("config/server.properties.tmp", kOldConfig);  // as a run killed before its rename leaves it
  output_.clear();
  run({L"admin", L"secret"});
  EXPECT_EQ(output_, "Error:reinstall package\n.\\config\\server.properties.tmp holds the configuration of an "
                     "interrupted run; rename it to .\\config\\server.properties to use it\n");
}

TEST_F(ProductFolder, ConfigurationWithoutAKeyLineIsKept) {
  expect_failure("Error: .\\config\\server.properties has no userid= line; it is unchanged\n",
                 "userid = old\npassword=old\n");
  output_.clear();
  expect_failure("Error: .\\config\\server.properties has no password= line; it is unchanged\n",
                 "userid=old\npassword : old\n");
}

TEST_F(ProductFolder, PasswordFileThatCannotBeDeletedIsPointedOut) {
  write_file("config/server.properties", kOldConfig);
  refuse_remove_ = kPasswordFile;
  run({L"admin", L"secret"});
  EXPECT_EQ(output_, "Warning: could not delete .\\password.txt, which holds the encrypted password; delete it "
                     "by hand\nCredentials Successfully changed\n");
  EXPECT_TRUE(exists("password.txt"));
  refuse_remove_ = kConfigBackupFile;  // the old configuration, after the replace
  output_.clear();
  run({L"admin", L"secret"});
  EXPECT_EQ(output_, "Warning: could not delete .\\config\\server.properties.bak, the old configuration with its "
                     "encrypted password; delete it by hand\nCredentials Successfully changed\n");
}

TEST_F(ProductFolder, TemporaryFileCannotBeCreated) {
  refuse_create_ = true;
  expect_failure("Error: reinstall package\n");
}

TEST_F(ProductFolder, WriteFailureKeepsTheOldConfiguration) {
  for (bool* fault : {&full_temp_file_, &refuse_commit_}) {
    full_temp_file_ = refuse_commit_ = false;
    *fault = true;
    output_.clear();
    expect_failure(
        "Error: could not write .\\config\\server.properties.tmp; .\\config\\server.properties is "
        "unchanged\n");
    EXPECT_EQ(operations_.back(), "remove .\\config\\server.properties.tmp");
  }
}

// A line of 2 MiB with allocations above 1 MiB failing, in the configuration
// and in the encrypt script's output.
TEST_F(ProductFolder, LineTooLargeForMemoryKeepsTheOldConfiguration) {
  const std::string huge_line = std::string(2 << 20, 'x') + "\n";
  struct Case {
    std::string config;
    std::string encrypt_output;
    const char* message;
  };
  for (const Case& c :
       {Case{kOldConfig + huge_line, "ENC:secret\n",
             "Error: not enough memory to read .\\config\\server.properties; it is unchanged\n"},
        Case{kOldConfig, huge_line,
             "Error: not enough memory to read .\\password.txt; .\\config\\server.properties is "
             "unchanged\n"}}) {
    write_file("config/server.properties", c.config);
    encrypt_output_ = c.encrypt_output;
    output_.clear();
    {
      AllocationLimit limit(1 << 20);
      run({L"admin", L"secret"});
    }
    EXPECT_EQ(output_, c.message);
    EXPECT_TRUE(read_file("config/server.properties") == c.config);
    EXPECT_FALSE(exists("config/server.properties.tmp"));
    EXPECT_TRUE(service_commands().empty());
  }
}

// Each failure leaves both configurations under the names its message gives.
TEST_F(ProductFolder, ReplaceFailureKeepsBothConfigurationsAndRestoresInterrupts) {
  for (unsigned long code : {5ul, 1175ul, 1176ul, 1177ul}) {
    write_file("config/server.properties", kOldConfig);
    replace_failure_ = code;
    output_.clear();
    run({L"admin", L"secret"});
    const bool renamed = code == 1177;
    EXPECT_EQ(output_, std::string("Error: could not replace .\\config\\server.properties - Access is denied. "
                                   "(0x5); ") +
                           (renamed ? "the old configuration is now in .\\config\\server.properties.bak and the new "
                                      "one in .\\config\\server.properties.tmp: rename one of them to "
                                      ".\\config\\server.properties\n"
                                    : "the old configuration is still in .\\config\\server.properties, the new one "
                                      "is in .\\config\\server.properties.tmp\n"));
    EXPECT_EQ(read_file(renamed ? "config/server.properties.bak" : "config/server.properties"), kOldConfig);
    EXPECT_EQ(read_file("config/server.properties.tmp"), "port=8443\nuserid=admin\npassword=ENC:secret\n");
    EXPECT_TRUE(service_commands().empty());
    EXPECT_EQ(operations_.back(), "interrupts restored");
  }
}

TEST(SystemReason, TextWithoutItsLineEndAndTheCode) {
  EXPECT_EQ(system_reason("Access is denied.\r\n", 5), "Access is denied. (0x5)");
  EXPECT_EQ(system_reason(nullptr, 0x4c8), "(0x4c8)");
}
