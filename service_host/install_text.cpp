#include "install_text.h"

bool module_path_complete(unsigned long length, std::size_t bufferSize) {
  return length != 0 && length < bufferSize;
}

std::string quoted_binary_path(const char* path) { return "\"" + std::string(path) + "\""; }
