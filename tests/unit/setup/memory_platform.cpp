#include "memory_platform.h"

#include <algorithm>
#include <vector>

#include "text.h"

namespace setup {
namespace {

std::wstring RootName(Root root) {
  return root == Root::kMachine ? L"hklm\\" : L"hkcu\\";
}

std::wstring Parent(const std::wstring& path) {
  const std::size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? L"" : path.substr(0, cut);
}

// The hive a key is stored in: HKCU's classes have a file of their own.
std::wstring Hive(const std::wstring& key) {
  const std::wstring classes = L"hkcu\\software\\classes";
  if (key.rfind(classes, 0) == 0) {
    return classes;
  }
  return key.substr(0, 4);
}

// Whether a sorted map holds anything below the name.
template <typename Map>
bool AnyBelow(const Map& map, const std::wstring& name) {
  const auto next = map.upper_bound(name + L"\\");
  return next != map.end() && next->first.rfind(name + L"\\", 0) == 0;
}

}  // namespace

std::wstring Lower(const std::wstring& text) { return Folded(text); }

MemoryPlatform::MemoryPlatform() {
  for (const wchar_t* folder :
       {L"C:", L"C:\\Program Files", L"C:\\ProgramData\\Start Menu\\Programs",
        L"C:\\Users\\Public\\Desktop",
        L"C:\\Users\\me\\AppData\\Local\\Programs",
        L"C:\\Users\\me\\Start Menu\\Programs", L"C:\\Users\\me\\Desktop"}) {
    AddFolder(folder);
  }
  // The keys Windows has, which the installer's own keys hang below.
  for (const wchar_t* root : {L"hklm\\software", L"hkcu\\software"}) {
    for (const wchar_t* key :
         {L"", L"\\classes", L"\\classes\\applications",
          L"\\registeredapplications", L"\\microsoft", L"\\microsoft\\windows",
          L"\\microsoft\\windows\\currentversion",
          L"\\microsoft\\windows\\currentversion\\app paths",
          L"\\microsoft\\windows\\currentversion\\uninstall"}) {
      registry[std::wstring(root) + key];
    }
  }
  flushed = registry;
}

void MemoryPlatform::Restart() { registry = flushed; }

void MemoryPlatform::AddFile(const std::wstring& path, const std::string& bytes,
                             std::uint32_t attributes) {
  AddFolder(Parent(path));
  files[Lower(path)] = {false, false, bytes, attributes};
}

void MemoryPlatform::AddFolder(const std::wstring& path) {
  for (std::wstring part = path; !part.empty(); part = Parent(part)) {
    files.emplace(Lower(part), Node{true, false, {}, 0});
  }
}

bool MemoryPlatform::Change() {
  ++changes;
  if (changes == powerLossAt) {
    throw PowerLoss{};
  }
  return changes != failAt;
}

Node* MemoryPlatform::Find(const std::wstring& path) {
  const auto found = files.find(Lower(path));
  return found == files.end() ? nullptr : &found->second;
}

bool MemoryPlatform::ParentIsFolder(const std::wstring& path) {
  const Node* parent = Find(Parent(path));
  return parent != nullptr && parent->folder;
}

// Whether another program keeps the file from being deleted or replaced.
bool MemoryPlatform::Busy(const std::wstring& path, Status* status) {
  if (held.count(Lower(path)) != 0) {
    *status = Status::kInUse;
    return true;
  }
  const Node* node = Find(path);
  if (running.count(Lower(path)) != 0 ||
      (node != nullptr && (node->attributes & kReadOnly) != 0)) {
    *status = Status::kDenied;
    return true;
  }
  return false;
}

std::wstring MemoryPlatform::FullPath(const std::wstring& path) {
  std::wstring text = path;
  std::replace(text.begin(), text.end(), L'/', L'\\');
  const bool share = text.rfind(L"\\\\", 0) == 0;
  std::vector<std::wstring> parts;
  std::size_t start = share ? 2 : 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(L'\\', start), text.size());
    const std::wstring part = text.substr(start, end - start);
    if (part == L"..") {
      if (parts.size() > (share ? 2U : 1U)) {
        parts.pop_back();
      }
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::wstring full = share ? L"\\\\" : L"";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    full += (i == 0 ? L"" : L"\\") + parts[i];
  }
  // Windows drops trailing dots and blanks of the last name.
  while (full.size() > 3 && (full.back() == L'.' || full.back() == L' ')) {
    full.pop_back();
  }
  if (!text.empty() && text.back() == L'\\') {
    full += L'\\';
  }
  return full;
}

std::wstring MemoryPlatform::LongPath(const std::wstring& path) { return path; }

FileFacts MemoryPlatform::Facts(const std::wstring& path) {
  const Node* node = Find(path.size() > 2 && path.back() == L'\\'
                              ? path.substr(0, path.size() - 1)
                              : path);
  if (node == nullptr) {
    return {};
  }
  return {true, node->folder, node->link, node->attributes};
}

Status MemoryPlatform::MakeFolder(const std::wstring& path, bool) {
  if (!Change()) {
    return Status::kFailed;
  }
  if (!ParentIsFolder(path)) {
    return Status::kMissing;
  }
  if (Find(path) != nullptr) {
    return Status::kFailed;
  }
  files[Lower(path)] = {true, false, {}, 0};
  return Status::kOk;
}

Status MemoryPlatform::RemoveFolder(const std::wstring& path) {
  if (!Change()) {
    return Status::kFailed;
  }
  const Node* node = Find(path);
  if (node == nullptr) {
    return Status::kMissing;
  }
  if (!node->folder) {
    return Status::kFailed;
  }
  const std::wstring lower = Lower(path);
  if (!node->link && AnyBelow(files, lower)) {
    return Status::kNotEmpty;
  }
  files.erase(lower);
  return Status::kOk;
}

Status MemoryPlatform::Move(const std::wstring& from, const std::wstring& to,
                            bool replace) {
  if (!Change()) {
    return Status::kFailed;
  }
  Node* source = Find(from);
  if (source == nullptr || !ParentIsFolder(to)) {
    return Status::kMissing;
  }
  Status status = Status::kOk;
  if (held.count(Lower(from)) != 0) {
    return Status::kInUse;
  }
  if (const Node* target = Find(to)) {
    if (!replace || target->folder) {
      return Status::kFailed;
    }
    if (Busy(to, &status)) {
      return status;
    }
  }
  const Node moved = *source;
  files.erase(Lower(from));
  files[Lower(to)] = moved;
  if (running.erase(Lower(from)) != 0) {
    running.insert(Lower(to));
  }
  return Status::kOk;
}

Status MemoryPlatform::Link(const std::wstring& from, const std::wstring& to) {
  if (!Change()) {
    return Status::kFailed;
  }
  const Node* source = Find(from);
  if (source == nullptr || source->folder || !ParentIsFolder(to)) {
    return Status::kMissing;
  }
  if (Find(to) != nullptr) {
    return Status::kFailed;
  }
  files[Lower(to)] = *source;
  return Status::kOk;
}

Status MemoryPlatform::Copy(const std::wstring& from, const std::wstring& to) {
  if (!Change()) {
    return Status::kFailed;
  }
  const Node* source = Find(from);
  if (source == nullptr || source->folder || !ParentIsFolder(to)) {
    return Status::kMissing;
  }
  Status status = Status::kOk;
  if (Find(to) != nullptr && Busy(to, &status)) {
    return status;
  }
  files[Lower(to)] = {false, false, source->bytes, 0};
  return Status::kOk;
}

Status MemoryPlatform::Delete(const std::wstring& path) {
  if (!Change()) {
    return Status::kFailed;
  }
  const Node* node = Find(path);
  if (node == nullptr) {
    return Status::kMissing;
  }
  Status status = Status::kOk;
  if (node->folder || Busy(path, &status)) {
    return node->folder ? Status::kFailed : status;
  }
  files.erase(Lower(path));
  return Status::kOk;
}

Status MemoryPlatform::SetAttributes(const std::wstring& path,
                                     std::uint32_t attributes) {
  if (!Change()) {
    return Status::kFailed;
  }
  Node* node = Find(path);
  if (node == nullptr) {
    return Status::kMissing;
  }
  node->attributes = attributes;
  return Status::kOk;
}

std::optional<std::string> MemoryPlatform::ReadBytes(const std::wstring& path) {
  const Node* node = Find(path);
  if (node == nullptr || node->folder) {
    return std::nullopt;
  }
  return node->bytes;
}

Status MemoryPlatform::WriteBytes(const std::wstring& path,
                                  const std::string& bytes) {
  if (!Change()) {
    return Status::kFailed;
  }
  if (!ParentIsFolder(path)) {
    return Status::kMissing;
  }
  Status status = Status::kOk;
  if (Find(path) != nullptr && Busy(path, &status)) {
    return status;
  }
  files[Lower(path)] = {false, false, bytes, 0};
  return Status::kOk;
}

std::vector<std::wstring> MemoryPlatform::Names(const std::wstring& folder) {
  const std::wstring below = Lower(folder) + L"\\";
  std::vector<std::wstring> names;
  for (auto it = files.upper_bound(below);
       it != files.end() && it->first.rfind(below, 0) == 0; ++it) {
    const std::wstring rest = it->first.substr(below.size());
    if (rest.find(L'\\') == std::wstring::npos) {
      names.push_back(rest);
    }
  }
  return names;
}

// The bytes stand for their digest.
std::string MemoryPlatform::Digest(const std::wstring& path) {
  return ReadBytes(path).value_or("");
}

bool MemoryPlatform::SameBytes(const std::wstring& a, const std::wstring& b) {
  const std::optional<std::string> first = ReadBytes(a);
  return first && first == ReadBytes(b);
}

bool MemoryPlatform::WritableByUsers(const std::wstring&) {
  return writableByUsers;
}

std::optional<RegData> MemoryPlatform::ReadValue(Root root,
                                                 const std::wstring& key,
                                                 const std::wstring& name) {
  const auto found = registry.find(RootName(root) + Lower(key));
  if (found == registry.end()) {
    return std::nullopt;
  }
  const auto value = found->second.find(Lower(name));
  if (value == found->second.end()) {
    return std::nullopt;
  }
  return value->second;
}

Status MemoryPlatform::WriteValue(Root root, const std::wstring& key,
                                  const std::wstring& name,
                                  const RegData& data) {
  if (!Change()) {
    return Status::kFailed;
  }
  for (std::wstring part = RootName(root) + Lower(key); part.size() > 4;
       part = Parent(part)) {
    registry[part];
  }
  registry[RootName(root) + Lower(key)][Lower(name)] = data;
  return Status::kOk;
}

Status MemoryPlatform::DeleteValue(Root root, const std::wstring& key,
                                   const std::wstring& name) {
  if (!Change()) {
    return Status::kFailed;
  }
  const auto found = registry.find(RootName(root) + Lower(key));
  if (found == registry.end() || found->second.erase(Lower(name)) == 0) {
    return Status::kMissing;
  }
  return Status::kOk;
}

bool MemoryPlatform::KeyExists(Root root, const std::wstring& key) {
  return registry.count(RootName(root) + Lower(key)) != 0;
}

Status MemoryPlatform::CreateKey(Root root, const std::wstring& key) {
  if (!Change()) {
    return Status::kFailed;
  }
  for (std::wstring part = RootName(root) + Lower(key); part.size() > 4;
       part = Parent(part)) {
    registry[part];
  }
  return Status::kOk;
}

Status MemoryPlatform::DeleteEmptyKey(Root root, const std::wstring& key) {
  if (!Change()) {
    return Status::kFailed;
  }
  const std::wstring name = RootName(root) + Lower(key);
  const auto found = registry.find(name);
  if (found == registry.end()) {
    return Status::kMissing;
  }
  if (!found->second.empty() || AnyBelow(registry, name)) {
    return Status::kNotEmpty;
  }
  registry.erase(found);
  return Status::kOk;
}

Status MemoryPlatform::Flush(Root root, const std::wstring& key) {
  if (!Change()) {
    return Status::kFailed;
  }
  const std::wstring hive = Hive(RootName(root) + Lower(key));
  const auto inHive = [&](const auto& entry) {
    return Hive(entry.first) == hive;
  };
  for (auto it = flushed.begin(); it != flushed.end();) {
    it = inHive(*it) ? flushed.erase(it) : std::next(it);
  }
  for (const auto& entry : registry) {
    if (inHive(entry)) {
      flushed.insert(entry);
    }
  }
  return Status::kOk;
}

Status MemoryPlatform::MakeShortcut(const std::wstring& path,
                                    const std::wstring& target,
                                    const std::wstring&) {
  return WriteBytes(path,
                    "shortcut to " + std::string(target.begin(), target.end()));
}

std::wstring MemoryPlatform::Folder(ShellFolder which, Root root) {
  if (root == Root::kMachine) {
    return which == ShellFolder::kPrograms
               ? L"C:\\ProgramData\\Start Menu\\Programs"
               : L"C:\\Users\\Public\\Desktop";
  }
  return which == ShellFolder::kPrograms
             ? L"C:\\Users\\me\\Start Menu\\Programs"
             : L"C:\\Users\\me\\Desktop";
}

std::optional<FileUser> MemoryPlatform::FirstInUse(
    const std::vector<std::wstring>& paths) {
  for (const std::wstring& path : paths) {
    if (running.count(Lower(path)) != 0) {
      return FileUser{path, true};
    }
    if (held.count(Lower(path)) != 0) {
      return FileUser{path, false};
    }
  }
  return std::nullopt;
}

}  // namespace setup
