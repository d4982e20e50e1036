// Which command interpreter may run the tool's commands: the one that COMSPEC
// names only when that is a full path, never one found by a bare name.
#pragma once

#include <string>

// Whether `path` names a file independently of the current drive and folder:
// "X:\..." (or "X:/...") and "\\server\share\..." are; "cmd.exe",
// ".\cmd.exe", "\cmd.exe" (rooted on the current drive) and "C:cmd.exe"
// (relative to drive C's current folder) are not.
bool is_fully_qualified(const std::wstring& path);
