#include "permissions.h"

#include <algorithm>
#include <array>

namespace setup {
namespace {

// FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY, FILE_WRITE_EA, FILE_DELETE_CHILD,
// FILE_WRITE_ATTRIBUTES, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL and
// GENERIC_WRITE.
constexpr std::uint32_t kWriteRights = 0x2U | 0x4U | 0x10U | 0x40U | 0x100U |
                                       0x10000U | 0x40000U | 0x80000U |
                                       0x10000000U | 0x40000000U;

constexpr std::array<const wchar_t*, 4> kOrdinaryUsers = {
    L"S-1-1-0", L"S-1-5-11", L"S-1-5-32-545", L"S-1-5-4"};

}  // namespace

bool UsersMayWrite(const std::vector<AccessEntry>& entries) {
  return std::any_of(
      entries.begin(), entries.end(), [](const AccessEntry& entry) {
        return entry.allows && (entry.rights & kWriteRights) != 0 &&
               std::find(kOrdinaryUsers.begin(), kOrdinaryUsers.end(),
                         entry.sid) != kOrdinaryUsers.end();
      });
}

}  // namespace setup
