#pragma once

#include <cstddef>
#include <string>

// Size of the buffer that receives the program's own path.
constexpr std::size_t kModulePathSize = 512;

// GetModuleFileNameA's result is usable only when it is neither a failure (0)
// nor a path cut short to fill the whole buffer.
bool module_path_complete(unsigned long length, std::size_t bufferSize);

// The binary path to register: the program's path in double quotes, so that a
// path with spaces cannot be read as a shorter program plus arguments.
std::string quoted_binary_path(const char* path);
