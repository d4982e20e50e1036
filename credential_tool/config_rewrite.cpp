#include "config_rewrite.h"

#include <cstring>
#include <new>

namespace {

bool starts_with(const std::string& text, std::size_t at, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  return text.size() - at >= length && text.compare(at, length, prefix) == 0;
}

bool write_all(std::FILE* output, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), output) == text.size();
}

RewriteResult rewrite_lines(std::FILE* input, std::FILE* output, const std::string& user,
                            const std::string& encrypted) {
  const std::string user_line = "userid=" + user + "\n";
  const std::string password_line = "password=" + encrypted + "\n";
  LineReader reader(input);
  std::string line;
  bool have_userid = false;
  bool have_password = false;
  while (reader.next(line)) {
    bool written = false;
    switch (credential_key_of(line)) {
      case CredentialKey::userid:
        have_userid = true;
        written = write_all(output, user_line);
        break;
      case CredentialKey::password:
        have_password = true;
        written = write_all(output, password_line);
        break;
      case CredentialKey::none:
        written = write_all(output, line);
        break;
    }
    if (!written) {
      return RewriteResult::write_failed;
    }
  }
  if (reader.failed()) {
    return RewriteResult::read_failed;
  }
  if (std::fflush(output) != 0 || std::ferror(output) != 0) {
    return RewriteResult::write_failed;
  }
  if (!have_userid) {
    return have_password ? RewriteResult::no_userid_line : RewriteResult::no_key_lines;
  }
  return have_password ? RewriteResult::ok : RewriteResult::no_password_line;
}

}  // namespace

CredentialKey credential_key_of(const std::string& line) {
  std::size_t at = 0;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
    ++at;
  }
  if (starts_with(line, at, "userid=")) {
    return CredentialKey::userid;
  }
  if (starts_with(line, at, "password=")) {
    return CredentialKey::password;
  }
  return CredentialKey::none;
}

LineReader::LineReader(std::FILE* input, std::size_t block_size)
    : input_(input), block_(block_size > 0 ? block_size : 1) {}

bool LineReader::next(std::string& line) {
  line.clear();
  for (;;) {
    if (begin_ == end_) {
      if (at_end_) {
        return !line.empty();
      }
      begin_ = 0;
      end_ = std::fread(block_.data(), 1, block_.size(), input_);
      if (end_ == 0) {
        // In text mode a Ctrl-Z ends the input here as well.
        at_end_ = true;
        failed_ = std::ferror(input_) != 0;
        return !failed_ && !line.empty();
      }
    }
    const char* start = block_.data() + begin_;
    const void* found = std::memchr(start, '\n', end_ - begin_);
    const std::size_t take =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - start) + 1 : end_ - begin_;
    line.append(start, take);
    begin_ += take;
    if (found) {
      return true;
    }
  }
}

std::string encrypted_value(const std::string& first_line) {
  std::string value(first_line.c_str());  // up to a zero byte
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
    value.pop_back();
  }
  return value;
}

RewriteResult rewrite_configuration(std::FILE* input, std::FILE* output,
                                    const std::string& user, const std::string& encrypted) {
  // Hundreds of MB in one line exhaust a 32-bit process.
  try {
    return rewrite_lines(input, output, user, encrypted);
  } catch (const std::bad_alloc&) {
    return RewriteResult::out_of_memory;
  }
}
