#pragma once

// Reads the access lists of the files and folders the service loads or runs
// and judges them (access_judgement.h). Win32 side.

#include <string>
#include <vector>

#include "access_judgement.h"

// What ordinary users may change of each path, in the paths' order. A path
// whose list cannot be read (one that does not exist among them) gives nothing.
std::vector<AccessFinding> find_changeable(const std::vector<std::string>& paths);

// At a start: one warning event naming every finding, when there is any.
void warn_of_changeable(const std::vector<std::string>& paths);
