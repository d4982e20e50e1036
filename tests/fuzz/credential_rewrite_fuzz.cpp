// Fuzzes the configuration rewrite: whatever the bytes, it must not crash,
// every line without the two keys must come out byte for byte, each key line
// must become exactly its replacement, and a missing key must be reported.
#include "config_rewrite.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string expected_rewrite(const std::string& input, const std::string& user, const std::string& encrypted,
                             RewriteResult& result) {
  std::string expected;
  bool userid = false;
  bool password = false;
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t end = input.find('\n', start);
    end = end == std::string::npos ? input.size() : end + 1;
    const std::string line = input.substr(start, end - start);
    // Independent of credential_key_of: skip blanks, compare the prefix.
    const std::size_t key = line.find_first_not_of(" \t");
    const std::string rest = key == std::string::npos ? std::string() : line.substr(key);
    if (rest.compare(0, 7, "userid=") == 0) {
      expected += "userid=" + user + "\n";
      userid = true;
    } else if (rest.compare(0, 9, "password=") == 0) {
      expected += "password=" + encrypted + "\n";
      password = true;
    } else {
      expected += line;
    }
    start = end;
  }
  result = userid && password ? RewriteResult::ok
           : userid           ? RewriteResult::no_password_line
           : password         ? RewriteResult::no_userid_line
                              : RewriteResult::no_key_lines;
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string user = "admin";
  const std::string encrypted = "ENC:x";

  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  if (in == nullptr || out == nullptr) {
    std::abort();
  }
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  RewriteResult expected_result;
  const std::string expected = expected_rewrite(input, user, encrypted, expected_result);
  if (rewrite_configuration(in, out, user, encrypted) != expected_result) {
    std::abort();
  }
  std::rewind(out);
  std::string output;
  char block[4096];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, out)) > 0) {
    output.append(block, got);
  }
  std::fclose(in);
  std::fclose(out);
  if (output != expected) {
    std::abort();
  }
  return 0;
}
