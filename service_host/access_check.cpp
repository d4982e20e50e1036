#include "access_check.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "event_log.h"
#include "wide_text.h"

namespace {

// The list as the judgement takes it; false when it cannot be read.
bool read_access_list(const std::string& path, AccessList& list) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS)
    return false;
  list.present = dacl != nullptr;
  for (DWORD index = 0; dacl != nullptr && index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace)) continue;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    // The allowed and denied entries share one layout; other kinds do not
    // name a group's rights on the object itself and are left out.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    const ACCESS_ALLOWED_ACE* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    char* sid = nullptr;
    if (!ConvertSidToStringSidA(const_cast<DWORD*>(&entry->SidStart), &sid)) continue;
    list.entries.push_back({header->AceType == ACCESS_ALLOWED_ACE_TYPE ? AccessEntryType::Allow : AccessEntryType::Deny,
                            sid, entry->Mask, (header->AceFlags & INHERIT_ONLY_ACE) != 0});
    LocalFree(sid);
  }
  LocalFree(descriptor);
  return true;
}

}  // namespace

std::vector<AccessFinding> find_changeable(const std::vector<std::string>& paths) {
  std::vector<AccessFinding> findings;
  for (const std::string& path : paths) {
    AccessList list;
    if (!read_access_list(path, list)) continue;
    for (const std::string& group : groups_that_may_change(list)) findings.push_back({path, group});
  }
  return findings;
}

void warn_of_changeable(const std::vector<std::string>& paths) {
  const std::vector<AccessFinding> findings = find_changeable(paths);
  if (!findings.empty()) write_warning_event(wide_from_ansi(start_access_warning(findings).c_str()).c_str());
}
