#pragma once

// Whether ordinary users may change a file or folder that the service loads
// or runs as LocalSystem, judged from its access list; and the warnings that
// say so. Nothing is refused: an installation that works keeps working.

#include <cstdint>
#include <string>
#include <vector>

enum class AccessEntryType { Allow, Deny, Other };

// One entry of an access list, as the judgement needs it.
struct AccessEntry {
  AccessEntryType type;
  std::string trustee;  // the SID in its string form ("S-1-5-32-545")
  std::uint32_t mask;
  bool inheritOnly;     // for the children only, not the object itself
};

struct AccessList {
  bool present = true;  // false: no list at all, which lets everyone do anything
  std::vector<AccessEntry> entries;
};

// The groups of ordinary users (Everyone, Authenticated Users, Users,
// INTERACTIVE, Guests, by those names) that the list lets write, append, add
// a file or folder, delete, delete a child, change the permissions or take
// ownership, in that order of groups. A deny entry counts for the rights it
// takes away before an allow entry grants them, to its own group, or to all
// when it is Everyone's.
std::vector<std::string> groups_that_may_change(const AccessList& list);

struct AccessFinding {
  std::string path;
  std::string group;
};

// The line Ostrad -i prints for a finding (line end included).
std::string install_access_warning(const AccessFinding& finding);

// The one warning event of a start that found any.
std::string start_access_warning(const std::vector<AccessFinding>& findings);
