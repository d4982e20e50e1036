#include "run_mode.h"

namespace {

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

int compare_ignoring_ascii_case(const char* left, const char* right) {
  for (;; ++left, ++right) {
    const unsigned char l = static_cast<unsigned char>(lower_ascii(*left));
    const unsigned char r = static_cast<unsigned char>(lower_ascii(*right));
    if (l != r || l == 0) return l - r;
  }
}

RunMode select_run_mode(int argc, const char* const* argv) {
  if (argc <= 1 || argv[1] == nullptr) return RunMode::Service;
  const char* argument = argv[1];
  if (argument[0] != '-' && argument[0] != '/') return RunMode::Service;
  const char* option = argument + 1;
  if (compare_ignoring_ascii_case(option, "i") == 0) return RunMode::Install;
  if (compare_ignoring_ascii_case(option, "r") == 0 || compare_ignoring_ascii_case(option, "UNREGSERVER") == 0)
    return RunMode::Remove;
  if (compare_ignoring_ascii_case(option, "ri") == 0 || compare_ignoring_ascii_case(option, "REGSERVER") == 0)
    return RunMode::Reinstall;
  if (compare_ignoring_ascii_case(option, "d") == 0) return RunMode::Debug;
  return RunMode::Service;
}
