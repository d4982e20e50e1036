#include "access_judgement.h"

namespace {

// File rights that change what is there (specific and standard rights).
constexpr std::uint32_t kWriteData = 0x2;        // FILE_WRITE_DATA, FILE_ADD_FILE
constexpr std::uint32_t kAppendData = 0x4;       // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
constexpr std::uint32_t kDeleteChild = 0x40;     // FILE_DELETE_CHILD
constexpr std::uint32_t kDelete = 0x10000;       // DELETE
constexpr std::uint32_t kWriteDac = 0x40000;     // WRITE_DAC
constexpr std::uint32_t kWriteOwner = 0x80000;   // WRITE_OWNER
constexpr std::uint32_t kChangeRights = kWriteData | kAppendData | kDeleteChild | kDelete | kWriteDac | kWriteOwner;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;

struct Group {
  const char* sid;
  const char* name;
};
constexpr Group kOrdinaryUsers[] = {{"S-1-1-0", "Everyone"},
                                    {"S-1-5-11", "Authenticated Users"},
                                    {"S-1-5-32-545", "Users"},
                                    {"S-1-5-4", "INTERACTIVE"},
                                    {"S-1-5-32-546", "Guests"}};
constexpr const char* kEveryone = "S-1-1-0";

// The change rights of a mask, generic rights mapped as for files.
std::uint32_t change_rights(std::uint32_t mask) {
  std::uint32_t rights = mask & kChangeRights;
  if ((mask & kGenericWrite) != 0) rights |= kWriteData | kAppendData;
  if ((mask & kGenericAll) != 0) rights |= kChangeRights;
  return rights;
}

// Whether the list lets a member of the group change the object: entries in
// their order, as the system checks them.
bool may_change(const AccessList& list, const std::string& groupSid) {
  std::uint32_t denied = 0;
  for (const AccessEntry& entry : list.entries) {
    if (entry.inheritOnly) continue;
    if (entry.type == AccessEntryType::Deny && (entry.trustee == groupSid || entry.trustee == kEveryone))
      denied |= change_rights(entry.mask);
    if (entry.type == AccessEntryType::Allow && entry.trustee == groupSid && (change_rights(entry.mask) & ~denied) != 0)
      return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> groups_that_may_change(const AccessList& list) {
  std::vector<std::string> groups;
  for (const Group& group : kOrdinaryUsers)
    if ((!list.present && group.sid == std::string(kEveryone)) || may_change(list, group.sid))
      groups.push_back(group.name);
  return groups;
}

std::string install_access_warning(const AccessFinding& finding) {
  return "Warning: " + finding.group + " may change \"" + finding.path +
         "\", which the service runs as LocalSystem; let only administrators change it (see the README).\n";
}

std::string start_access_warning(const std::vector<AccessFinding>& findings) {
  std::string text = "Ordinary users may change what the service loads as LocalSystem:";
  for (const AccessFinding& finding : findings) text += " " + finding.group + " may change \"" + finding.path + "\";";
  return text + " let only administrators change these (see the README). The service starts all the same.";
}
