// The rewrite of the configuration file: every line is read and written
// whole; a line whose key is "userid" or "password" is replaced, every other
// line is copied byte for byte. Works on any stdio stream, so the Windows
// program gets the C runtime's text mode (CR LF, Ctrl-Z) from how it opens
// the files, and tests can feed plain bytes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

enum class CredentialKey { none, userid, password };

// The key a line sets: after optional blanks (space, tab) it begins with
// "userid=" or "password=". Comments, other keys that merely contain those
// words and other letter cases set neither.
CredentialKey credential_key_of(const std::string& line);

// Reads a stream line by line, each line whole with its line feed (when it
// has one), in blocks of a fixed size, so memory is bounded by the longest
// line.
class LineReader {
public:
  explicit LineReader(std::FILE* input, std::size_t block_size = 64 * 1024);

  // The next line into `line`; false at the end of the input or on a read
  // error (then failed() is true).
  bool next(std::string& line);
  bool failed() const { return failed_; }

private:
  std::FILE* input_;
  std::vector<char> block_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};

// The first line of the encrypt script's output made into the value of
// "password=": the text before any zero byte, without its trailing line end
// (line feeds and carriage returns).
std::string encrypted_value(const std::string& first_line);

enum class RewriteResult {
  ok,
  read_failed,
  write_failed,
  out_of_memory,
  // Copied whole, but the input set no user name or no password: a
  // configuration that would not hold the new credentials.
  no_userid_line,
  no_password_line,
  no_key_lines,
};

// Copies `input` to `output`, replacing the user name and password lines by
// "userid=<user>\n" and "password=<encrypted>\n". Every write and the final
// flush are checked; closing is left to the caller. A line too long for
// memory ends the copy with out_of_memory, the output incomplete.
RewriteResult rewrite_configuration(std::FILE* input, std::FILE* output,
                                    const std::string& user, const std::string& encrypted);
