#include "folder.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "product.h"
#include "text.h"

namespace setup {
namespace {

constexpr std::size_t kMaxPath = 259;  // characters before the zero
constexpr std::size_t kLongestSpelling = 1023;

bool IsLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:\" or "X:/" of a drive, or "\\" or "//" of a share.
bool LooksFull(const std::wstring& spelling) {
  if (spelling.size() >= 3 && IsLetter(spelling[0]) && spelling[1] == L':' &&
      IsSeparator(spelling[2])) {
    return true;
  }
  return spelling.size() >= 2 && IsSeparator(spelling[0]) &&
         IsSeparator(spelling[1]);
}

bool HasForbiddenCharacter(const std::wstring& folder) {
  for (std::size_t i = 0; i < folder.size(); ++i) {
    const wchar_t c = folder[i];
    if (c < 32 ||
        std::wstring_view(L"\"*?<>|").find(c) != std::wstring_view::npos ||
        (c == L':' && i >= 2)) {
      return true;
    }
  }
  return false;
}

// As Windows reads a name, "CON", "nul.jpg" and "COM1 .txt" are devices.
bool IsDeviceName(const std::wstring& name) {
  std::wstring stem = name.substr(0, name.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') {
    stem.pop_back();
  }
  static constexpr std::array<const wchar_t*, 24> kDevices = {
      L"CON",  L"PRN",  L"AUX",  L"NUL",  L"COM1",   L"COM2",
      L"COM3", L"COM4", L"COM5", L"COM6", L"COM7",   L"COM8",
      L"COM9", L"LPT1", L"LPT2", L"LPT3", L"LPT4",   L"LPT5",
      L"LPT6", L"LPT7", L"LPT8", L"LPT9", L"CONIN$", L"CONOUT$"};
  return std::any_of(
      kDevices.begin(), kDevices.end(),
      [&](const wchar_t* device) { return SameName(stem, device); });
}

// A full path of a drive ("C:\\") or a named share ("\\\\server\\share"),
// holding no character a folder's name cannot.
bool IsFullPath(const std::wstring& folder) {
  const bool drive = folder.size() >= 3 && IsLetter(folder[0]) &&
                     folder[1] == L':' && folder[2] == L'\\';
  const bool share = folder.size() >= 2 && folder[0] == L'\\' &&
                     folder[1] == L'\\' && folder.rfind(L"\\\\?\\", 0) != 0 &&
                     folder.rfind(L"\\\\.\\", 0) != 0;
  if ((!drive && !share) || HasForbiddenCharacter(folder) ||
      folder.find(L'/') != std::wstring::npos) {
    return false;
  }
  // A share's server and share are named.
  const std::wstring root = PathRoot(folder);
  return !share ||
         (root.find(L"\\\\", 1) == std::wstring::npos && root.back() != L'\\' &&
          std::count(root.begin(), root.end(), L'\\') == 3);
}

// What is wrong with one name of a path.
FolderProblem NameProblem(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") {
    return FolderProblem::kNotFullPath;
  }
  if (name.back() == L' ' || name.back() == L'.') {
    return FolderProblem::kBadName;
  }
  return IsDeviceName(name) ? FolderProblem::kDevice : FolderProblem::kNone;
}

// The names below the root, in order.
std::vector<std::wstring> NamesBelowRoot(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::size_t start = PathRoot(folder).size() + 1;
  while (start <= folder.size()) {
    const std::size_t end = std::min(folder.find(L'\\', start), folder.size());
    names.push_back(folder.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::wstring Parent(const std::wstring& path) {
  const std::size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

// Short (8.3) names of the part that exists, made long.
std::wstring WithLongNames(const std::wstring& folder, Platform& platform) {
  const std::wstring root = PathRoot(folder);
  std::wstring existing = folder;
  while (existing.size() > root.size() && !platform.Facts(existing).folder) {
    existing = Parent(existing);
  }
  if (existing.size() <= root.size()) {
    return folder;
  }
  const std::wstring longer = platform.LongPath(existing);
  if (longer.empty() || longer.size() > kLongestSpelling) {
    return folder;
  }
  return longer + folder.substr(existing.size());
}

}  // namespace

std::wstring PathRoot(const std::wstring& path) {
  if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
    const std::size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos) {
      return path;
    }
    return path.substr(0, std::min(path.find(L'\\', server + 1), path.size()));
  }
  return path.substr(0, 2);
}

std::size_t LongestFolder() {
  std::size_t longest = 0;
  for (const wchar_t* name : kOwnFiles) {
    longest = std::max(longest, std::wstring_view(name).size());
  }
  longest = std::max(
      longest, std::wstring_view(kJournalFolder).size() + kLongestJournalName);
  return kMaxPath - 1 - longest;
}

FolderCheck CheckCanonicalText(const std::wstring& folder) {
  FolderCheck check{folder, FolderProblem::kNone, {}};
  if (!IsFullPath(folder)) {
    check.problem = FolderProblem::kNotFullPath;
    return check;
  }
  if (folder.size() <= PathRoot(folder).size() + 1) {
    check.problem = FolderProblem::kRoot;
    return check;
  }
  for (const std::wstring& name : NamesBelowRoot(folder)) {
    check.problem = NameProblem(name);
    if (check.problem != FolderProblem::kNone) {
      if (check.problem != FolderProblem::kNotFullPath) {
        check.detail = name;
      }
      return check;
    }
  }
  if (folder.size() > LongestFolder()) {
    check.problem = FolderProblem::kTooLong;
    check.detail = Decimal(LongestFolder());
  }
  return check;
}

FolderCheck CheckFolder(const std::wstring& spelling, Platform& platform) {
  FolderCheck check{{}, FolderProblem::kNotFullPath, {}};
  if (!LooksFull(spelling) || spelling.size() > kLongestSpelling) {
    return check;
  }
  std::wstring folder = platform.FullPath(spelling);
  if (folder.empty() || folder.size() > kLongestSpelling ||
      HasForbiddenCharacter(folder)) {
    return check;
  }
  folder = WithLongNames(folder, platform);
  if (folder.size() > 3 && folder.back() == L'\\') {
    folder.pop_back();
  }
  check = CheckCanonicalText(folder);
  if (check.problem == FolderProblem::kRoot ||
      check.problem == FolderProblem::kNotFullPath) {
    return check;
  }
  const std::wstring root = PathRoot(folder);
  if (!platform.Facts(root + L"\\").folder) {
    return {folder, FolderProblem::kNoDrive, root};
  }
  if (check.problem == FolderProblem::kBadName ||
      check.problem == FolderProblem::kDevice) {
    return check;
  }
  // The folder, or the nearest part of its path that exists, is a folder.
  std::wstring existing = folder;
  while (existing.size() > root.size() && !platform.Facts(existing).exists) {
    existing = Parent(existing);
  }
  if (existing.size() > root.size() && !platform.Facts(existing).folder) {
    return {folder, FolderProblem::kFile, existing};
  }
  return check;
}

}  // namespace setup
