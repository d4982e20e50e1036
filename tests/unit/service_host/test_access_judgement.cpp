// Which groups of ordinary users an access list lets change a file or folder.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access_judgement.h"

namespace {

const std::string kEveryone = "S-1-1-0", kUsers = "S-1-5-32-545", kAuthenticated = "S-1-5-11";
const std::string kInteractive = "S-1-5-4", kGuests = "S-1-5-32-546";
const std::string kSystem = "S-1-5-18", kAdministrators = "S-1-5-32-544", kCreatorOwner = "S-1-3-0";
constexpr std::uint32_t kFullControl = 0x1f01ff, kModify = 0x1301bf, kReadExecute = 0x1200a9;

AccessEntry allow(const std::string& sid, std::uint32_t mask, bool inheritOnly = false) {
  return {AccessEntryType::Allow, sid, mask, inheritOnly};
}
AccessEntry deny(const std::string& sid, std::uint32_t mask) { return {AccessEntryType::Deny, sid, mask, false}; }

TEST(AccessJudgement, OrdinaryUsersWhoMayChangeTheObjectItself) {
  const AccessEntry administrators = allow(kAdministrators, kFullControl);
  const struct { const char* list; AccessList acl; std::vector<std::string> groups; } cases[] = {
      {"Users: modify", {true, {administrators, allow(kUsers, kModify)}}, {"Users"}},
      {"Everyone of a mode 777 folder under Wine", {true, {allow(kEveryone, 0x1301ff)}}, {"Everyone"}},
      {"Everyone of a mode 755 folder: read and execute", {true, {allow(kEveryone, kReadExecute)}}, {}},
      {"inherit-only modify for the children",
       {true, {allow(kAuthenticated, kModify, true), allow(kAuthenticated, kReadExecute)}}, {}},
      {"deny before the allow", {true, {deny(kUsers, 0x400d0046), allow(kUsers, kModify)}}, {}},
      {"deny after the allow comes too late", {true, {allow(kUsers, kModify), deny(kUsers, 0x400d0046)}}, {"Users"}},
      {"a deny that leaves delete", {true, {deny(kUsers, 0x40000000), allow(kUsers, 0x10000)}}, {"Users"}},
      {"Everyone's deny holds for every group", {true, {deny(kEveryone, kFullControl), allow(kUsers, kModify)}}, {}},
      {"generic write and generic all",
       {true, {allow(kInteractive, 0x40000000), allow(kGuests, 0x10000000), allow(kUsers, 0x80000000)}},
       {"INTERACTIVE", "Guests"}},
      {"taking ownership or changing permissions", {true, {allow(kAuthenticated, kReadExecute | 0x80000)}},
       {"Authenticated Users"}},
      {"owner-only list",
       {true, {allow(kSystem, kFullControl), administrators, allow(kCreatorOwner, kFullControl)}}, {}},
      {"an empty list lets no one in", {true, {}}, {}},
      {"no list at all lets everyone in", {false, {}}, {"Everyone"}},
  };
  for (const auto& c : cases) EXPECT_EQ(groups_that_may_change(c.acl), c.groups) << c.list;
}

}  // namespace
