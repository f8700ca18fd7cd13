// What the setup engine asks of the system: files, the registry, shortcuts
// and the processes that use an installation. On Windows these are Win32
// calls (windows_platform.cpp); the host tests give the engine an in-memory
// system in which any operation can fail or the power can go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace setup {

// The result of an operation that changes something.
enum class Status {
  kOk,
  kMissing,   // the file, folder or key is not there
  kInUse,     // held by another program without delete sharing, or running
  kDenied,    // access denied
  kNotEmpty,  // a folder or key that holds something: it stays
  kFailed,    // anything else: a full disk, a name in the way
};

struct FileFacts {
  bool exists = false;
  bool folder = false;
  bool link = false;  // a reparse point: a symbolic link or a junction
  std::uint32_t attributes = 0;
};

// FILE_ATTRIBUTE_READONLY.
inline constexpr std::uint32_t kReadOnly = 0x1;

enum class Root { kMachine, kUser };  // HKLM or HKCU, 64-bit view

// A registry value as stored: its type and its bytes.
struct RegData {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> bytes;
  bool operator==(const RegData& other) const {
    return type == other.type && bytes == other.bytes;
  }
};

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;

enum class ShellFolder { kPrograms, kDesktop };

// A process that uses a file of an installation: which file, and whether the
// process is the installation's own launcher.
struct FileUser {
  std::wstring file;
  bool launcher = false;
};

class Platform {
 public:
  Platform() = default;
  virtual ~Platform() = default;

  // Paths: GetFullPathNameW and GetLongPathNameW; empty on failure.
  virtual std::wstring FullPath(const std::wstring& path) = 0;
  virtual std::wstring LongPath(const std::wstring& path) = 0;

  // Files and folders; a path is always full. Nothing follows a link below
  // the installation folder: the engine checks each name first.
  virtual FileFacts Facts(const std::wstring& path) = 0;
  // A folder writable only by Administrators and SYSTEM when restricted, as
  // Program Files is; else with the permissions it inherits.
  virtual Status MakeFolder(const std::wstring& path, bool restricted) = 0;
  // Removes the folder when it is empty (a link: the link itself).
  virtual Status RemoveFolder(const std::wstring& path) = 0;
  // One rename, written through; replace: over an existing file.
  virtual Status Move(const std::wstring& from, const std::wstring& to,
                      bool replace) = 0;
  // A second name for the file's bytes: a hard link, or a copy.
  virtual Status Link(const std::wstring& from, const std::wstring& to) = 0;
  virtual Status Copy(const std::wstring& from, const std::wstring& to) = 0;
  virtual Status Delete(const std::wstring& path) = 0;
  virtual Status SetAttributes(const std::wstring& path,
                               std::uint32_t attributes) = 0;
  // The bytes of a small file (a shortcut), or none.
  virtual std::optional<std::string> ReadBytes(const std::wstring& path) = 0;
  // Written whole (to a temporary name, then renamed).
  virtual Status WriteBytes(const std::wstring& path,
                            const std::string& bytes) = 0;
  // The names in a folder, without "." and "..".
  virtual std::vector<std::wstring> Names(const std::wstring& folder) = 0;
  // The SHA-256 of a file's bytes, in lower-case hex; empty when unread.
  virtual std::string Digest(const std::wstring& path) = 0;
  // Whether two files hold the same bytes.
  virtual bool SameBytes(const std::wstring& a, const std::wstring& b) = 0;
  // Whether ordinary users may add or change files in the folder.
  virtual bool WritableByUsers(const std::wstring& folder) = 0;

  // The registry.
  virtual std::optional<RegData> ReadValue(Root root, const std::wstring& key,
                                           const std::wstring& name) = 0;
  virtual Status WriteValue(Root root, const std::wstring& key,
                            const std::wstring& name, const RegData& data) = 0;
  virtual Status DeleteValue(Root root, const std::wstring& key,
                             const std::wstring& name) = 0;
  virtual bool KeyExists(Root root, const std::wstring& key) = 0;
  // Creates the key and those above it.
  virtual Status CreateKey(Root root, const std::wstring& key) = 0;
  // Deletes the key when it holds neither values nor keys.
  virtual Status DeleteEmptyKey(Root root, const std::wstring& key) = 0;
  // Written to disk before it returns (RegFlushKey).
  virtual Status Flush(Root root, const std::wstring& key) = 0;

  // The shell: a shortcut saved, its folder, and the association change
  // announced.
  virtual Status MakeShortcut(const std::wstring& path,
                              const std::wstring& target,
                              const std::wstring& description) = 0;
  virtual std::wstring Folder(ShellFolder which, Root root) = 0;
  virtual void NotifyAssociationsChanged() = 0;

  // Processes: the first of the given files that a process has as its image
  // or a loaded module, or that another program holds without delete
  // sharing.
  virtual std::optional<FileUser> FirstInUse(
      const std::vector<std::wstring>& files) = 0;
  virtual void Sleep(int milliseconds) = 0;

 protected:
  // An in-memory system for tests may be copied whole.
  Platform(const Platform&) = default;
  Platform& operator=(const Platform&) = default;
  Platform(Platform&&) = default;
  Platform& operator=(Platform&&) = default;
};

}  // namespace setup
