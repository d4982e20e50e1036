#pragma once

#include <cstddef>

// Size of the buffer the last-error text is composed into.
constexpr std::size_t kLastErrorTextSize = 256;

// Composes the last-error text "<system text without its line end> (0x<code>)"
// into buffer (size bytes, always zero-terminated). systemText is what
// FormatMessageA returned for code (null when it returned nothing); when it is
// null or its length plus 14 exceeds size, the result is the empty string.
// Returns buffer.
char* compose_last_error_text(const char* systemText, unsigned long code, char* buffer, std::size_t size);
