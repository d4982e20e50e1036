// Fuzzes the configuration rewrite: whatever the bytes, it must not crash,
// every line without the two keys must come out byte for byte, each key line
// must become exactly its replacement, and a missing key line is reported as
// exactly the one(s) missing.
#include "config_rewrite.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Expected {
  std::string output;
  RewriteResult result;
};

Expected expected_rewrite(const std::string& input, const std::string& user, const std::string& encrypted) {
  std::string expected;
  bool sawUser = false, sawPassword = false;
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
      sawUser = true;
    } else if (rest.compare(0, 9, "password=") == 0) {
      expected += "password=" + encrypted + "\n";
      sawPassword = true;
    } else {
      expected += line;
    }
    start = end;
  }
  const RewriteResult result = sawUser && sawPassword ? RewriteResult::ok
                               : sawUser             ? RewriteResult::no_password_line
                               : sawPassword         ? RewriteResult::no_userid_line
                                                     : RewriteResult::no_key_lines;
  return {expected, result};
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
  const RewriteResult result = rewrite_configuration(in, out, user, encrypted);
  std::rewind(out);
  std::string output;
  char block[4096];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, out)) > 0) {
    output.append(block, got);
  }
  std::fclose(in);
  std::fclose(out);
  // A missing key line is reported, and the copy is still whole.
  const Expected expected = expected_rewrite(input, user, encrypted);
  if (result != expected.result || output != expected.output) {
    std::abort();
  }
  return 0;
}
