// Who may change the files in a folder, read from its access control list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

// An entry of a folder's access control list: the account as a SID string
// ("S-1-5-32-545"), whether it allows or denies, and the rights.
struct AccessEntry {
  std::wstring sid;
  bool allows = false;
  std::uint32_t rights = 0;
};

// Whether the entries let ordinary users (Everyone, Authenticated Users,
// Users, Interactive) add, change or delete files in the folder or in
// folders and files it passes its entries on to.
bool UsersMayWrite(const std::vector<AccessEntry>& entries);

// The list the installer gives each folder it makes for all users, as
// Program Files has: Administrators and SYSTEM may change it, Users may read
// and run what is in it; nothing inherited from the folder above.
inline constexpr const wchar_t* kRestrictedFolder =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

}  // namespace setup
