#pragma once

// What the first command-line argument asks the service host to do.
enum class RunMode { Install, Remove, Reinstall, Debug, Service };

// Compares two texts ignoring the case of the letters A to Z only, as
// _stricmp does in the "C" locale; <0, 0 or >0.
int compare_ignoring_ascii_case(const char* left, const char* right);

// Only the first argument counts; it must start with '-' or '/', and
// anything not recognised selects service mode.
RunMode select_run_mode(int argc, const char* const* argv);
