// The setup engine's platform on Windows: Win32 files, the 64-bit registry
// view, the shell and the Tool Help snapshots of running processes.
#pragma once

#include "platform.h"

namespace setup {

class WindowsPlatform : public Platform {
 public:
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
  void NotifyAssociationsChanged() override;
  std::optional<FileUser> FirstInUse(
      const std::vector<std::wstring>& files) override;
  void Sleep(int milliseconds) override;
};

}  // namespace setup
