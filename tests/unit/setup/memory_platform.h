// An in-memory Windows for the setup engine: files, folders and links, a
// registry whose hives are written to disk only when flushed, shortcuts,
// programs that hold or run files, and faults: any change can fail once, or
// the power can go just before it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform.h"

namespace setup {

// Thrown by the change at which the power goes.
struct PowerLoss {};

struct Node {
  bool folder = false;
  bool link = false;
  std::string bytes;
  std::uint32_t attributes = 0;
  bool operator==(const Node& other) const {
    return folder == other.folder && link == other.link &&
           bytes == other.bytes && attributes == other.attributes;
  }
};

// A registry key by its full name ("HKLM\Software\..."), in lower case, and
// its values by lower-case name.
using Registry = std::map<std::wstring, std::map<std::wstring, RegData>>;

class MemoryPlatform : public Platform {
 public:
  MemoryPlatform();

  // Files by full path in lower case.
  std::map<std::wstring, Node> files;
  Registry registry;
  // The registry as last written to disk, hive by hive.
  Registry flushed;
  // Held by another program without delete sharing; running as the image
  // of a process (the launcher's, or another program's module).
  std::set<std::wstring> held;
  std::set<std::wstring> running;
  bool writableByUsers = false;

  // Faults: the change numbered failAt fails once; the one numbered
  // powerLossAt throws PowerLoss instead of happening. Changes are counted
  // from 1.
  int changes = 0;
  int failAt = 0;
  int powerLossAt = 0;
  int slept = 0;

  // After a power loss: the registry as it was last flushed.
  void Restart();
  void AddFile(const std::wstring& path, const std::string& bytes,
               std::uint32_t attributes = 0);
  void AddFolder(const std::wstring& path);

  std::wstring FullPath(const std::wstring& path) override;
  std::wstring LongPath(const std::wstring& path) override;
  FileFacts Facts(const std::wstring& path) override;
  Status MakeFolder(const std::wstring& path, bool restricted) override;
  Status RemoveFolder(const std::wstring& path) override;
  Status Move(const std::wstring& from, const std::wstring& to,
              bool replace) override;
  Status Link(const std::wstring& from, const std::wstring& to) override;
  Status Copy(const std::wstring& from, const std::wstring& to) override;
  Status Delete(const std::wstring& path) override;
  Status SetAttributes(const std::wstring& path,
                       std::uint32_t attributes) override;
  std::optional<std::string> ReadBytes(const std::wstring& path) override;
  Status WriteBytes(const std::wstring& path,
                    const std::string& bytes) override;
  std::vector<std::wstring> Names(const std::wstring& folder) override;
  std::string Digest(const std::wstring& path) override;
  bool SameBytes(const std::wstring& a, const std::wstring& b) override;
  bool WritableByUsers(const std::wstring& folder) override;
  std::optional<RegData> ReadValue(Root root, const std::wstring& key,
                                   const std::wstring& name) override;
  Status WriteValue(Root root, const std::wstring& key,
                    const std::wstring& name, const RegData& data) override;
  Status DeleteValue(Root root, const std::wstring& key,
                     const std::wstring& name) override;
  bool KeyExists(Root root, const std::wstring& key) override;
  Status CreateKey(Root root, const std::wstring& key) override;
  Status DeleteEmptyKey(Root root, const std::wstring& key) override;
  Status Flush(Root root, const std::wstring& key) override;
  Status MakeShortcut(const std::wstring& path, const std::wstring& target,
                      const std::wstring& description) override;
  std::wstring Folder(ShellFolder which, Root root) override;
  void NotifyAssociationsChanged() override {}
  std::optional<FileUser> FirstInUse(
      const std::vector<std::wstring>& files) override;
  void Sleep(int milliseconds) override { slept += milliseconds; }

 private:
  // Counts a change; false when it is the one that fails.
  bool Change();
  Node* Find(const std::wstring& path);
  bool ParentIsFolder(const std::wstring& path);
  bool Busy(const std::wstring& path, Status* status);
};

std::wstring Lower(const std::wstring& text);

}  // namespace setup
