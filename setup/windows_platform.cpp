#include "windows_platform.h"

#include <windows.h>
// windows.h first: the others rely on its types.
#include <aclapi.h>
#include <bcrypt.h>
#include <knownfolders.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <map>
#include <memory>

#include "permissions.h"
#include "product.h"
#include "text.h"

namespace setup {
namespace {

constexpr DWORD kLongestPath = 1024;
constexpr DWORD kLargestFile = 64U << 20U;

Status FromError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return Status::kOk;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Status::kMissing;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Status::kInUse;
    case ERROR_ACCESS_DENIED:
      return Status::kDenied;
    case ERROR_DIR_NOT_EMPTY:
      return Status::kNotEmpty;
    default:
      return Status::kFailed;
  }
}

Status Result(BOOL done) {
  return done != FALSE ? Status::kOk : FromError(GetLastError());
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle Open(const std::wstring& path, DWORD access, DWORD share,
            DWORD disposition) {
  HANDLE handle = CreateFileW(
      path.c_str(), access, share, nullptr, disposition,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// Writes the file's data through to the disk.
Status Flushed(const std::wstring& path) {
  const Handle file = Open(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  if (!file) {
    return FromError(GetLastError());
  }
  return Result(FlushFileBuffers(file.get()));
}

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

HKEY RootKey(Root root) {
  return root == Root::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

LSTATUS OpenKey(Root root, const std::wstring& name, REGSAM access, Key* key) {
  HKEY opened = nullptr;
  const LSTATUS status = RegOpenKeyExW(RootKey(root), name.c_str(), 0,
                                       access | KEY_WOW64_64KEY, &opened);
  key->reset(status == ERROR_SUCCESS ? opened : nullptr);
  return status;
}

LSTATUS CreateKeyHandle(Root root, const std::wstring& name, REGSAM access,
                        Key* key) {
  HKEY created = nullptr;
  const LSTATUS status = RegCreateKeyExW(
      RootKey(root), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
      access | KEY_WOW64_64KEY, nullptr, &created, nullptr);
  key->reset(status == ERROR_SUCCESS ? created : nullptr);
  return status;
}

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The entries of a folder's access control list.
std::vector<AccessEntry> AccessEntries(const std::wstring& folder) {
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  const std::unique_ptr<void, LocalFreer> owned(descriptor);
  std::vector<AccessEntry> entries;
  if (list == nullptr) {  // no list at all: everyone may do anything
    return {{L"S-1-1-0", true, GENERIC_ALL}};
  }
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* raw = nullptr;
    if (GetAce(list, i, &raw) == FALSE) {
      continue;
    }
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
        header->AceType != ACCESS_DENIED_ACE_TYPE) {
      continue;
    }
    // Both kinds share the layout of ACCESS_ALLOWED_ACE.
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    wchar_t* sid = nullptr;
    if (ConvertSidToStringSidW(&ace->SidStart, &sid) == FALSE) {
      continue;
    }
    const std::unique_ptr<void, LocalFreer> ownedSid(sid);
    entries.push_back(
        {sid, header->AceType == ACCESS_ALLOWED_ACE_TYPE, ace->Mask});
  }
  return entries;
}

// Every module of every other process, with whether the process's image is
// a launcher among the files.
std::map<std::wstring, bool> ModulesInUse(
    const std::vector<std::wstring>& files) {
  std::map<std::wstring, bool> modules;
  const Handle processes(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (processes.get() == INVALID_HANDLE_VALUE) {
    return modules;
  }
  PROCESSENTRY32W process{};
  process.dwSize = sizeof process;
  for (BOOL more = Process32FirstW(processes.get(), &process); more != FALSE;
       more = Process32NextW(processes.get(), &process)) {
    if (process.th32ProcessID == GetCurrentProcessId()) {
      continue;
    }
    const Handle snapshot(CreateToolhelp32Snapshot(
        TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, process.th32ProcessID));
    if (snapshot.get() == INVALID_HANDLE_VALUE) {
      continue;
    }
    std::vector<std::wstring> paths;
    bool launcher = false;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL found = Module32FirstW(snapshot.get(), &module); found != FALSE;
         found = Module32NextW(snapshot.get(), &module)) {
      const std::wstring path = module.szExePath;
      paths.push_back(path);
      const std::wstring exe = std::wstring(L"\\") + kExeName;
      for (const std::wstring& file : files) {
        launcher =
            launcher || (SameName(path, file) && path.size() >= exe.size() &&
                         SameName(path.substr(path.size() - exe.size()), exe));
      }
    }
    for (const std::wstring& path : paths) {
      modules[path] = modules[path] || launcher;
    }
  }
  return modules;
}

// The path the file or folder opened at the path really has, links
// followed; empty when it cannot be read.
std::wstring FinalPath(const std::wstring& path) {
  const HANDLE opened =
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    return {};
  }
  std::wstring final(kLongestPath, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(
      opened, final.data(), kLongestPath, FILE_NAME_NORMALIZED);
  CloseHandle(opened);
  final.resize(length < kLongestPath ? length : 0);
  while (!final.empty() && final.back() == L'\\') {
    final.pop_back();
  }
  return final;
}

// Whether a name lies where its path says, in its parent folder, and is no
// link to elsewhere. (Wine reports a link to a file as a plain file: only
// the path it leads to tells.)
bool WhereItSays(const std::wstring& path) {
  const std::size_t cut = path.rfind(L'\\');
  if (cut == std::wstring::npos || cut + 1 == path.size() ||
      path.find(L'\\') == cut) {
    return true;  // a root, or a name right below one
  }
  const std::wstring final = FinalPath(path);
  const std::wstring parent = FinalPath(path.substr(0, cut));
  return final.empty() || parent.empty() ||
         SameName(final, parent + path.substr(cut));
}

}  // namespace

std::wstring WindowsPlatform::FullPath(const std::wstring& path) {
  std::wstring full(kLongestPath, L'\0');
  const DWORD length =
      GetFullPathNameW(path.c_str(), kLongestPath, full.data(), nullptr);
  if (length == 0 || length >= kLongestPath) {
    return {};
  }
  full.resize(length);
  return full;
}

std::wstring WindowsPlatform::LongPath(const std::wstring& path) {
  std::wstring longer(kLongestPath, L'\0');
  const DWORD length =
      GetLongPathNameW(path.c_str(), longer.data(), kLongestPath);
  if (length == 0 || length >= kLongestPath) {
    return {};
  }
  longer.resize(length);
  return longer;
}

FileFacts WindowsPlatform::Facts(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return {};
  }
  return {
      true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !WhereItSays(path),
      attributes};
}

Status WindowsPlatform::MakeFolder(const std::wstring& path, bool restricted) {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  std::unique_ptr<void, LocalFreer> descriptor;
  if (restricted) {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kRestrictedFolder, SDDL_REVISION_1, &made, nullptr) == FALSE) {
      return Status::kFailed;
    }
    descriptor.reset(made);
    security.lpSecurityDescriptor = made;
  }
  return Result(CreateDirectoryW(path.c_str(), &security));
}

Status WindowsPlatform::RemoveFolder(const std::wstring& path) {
  return Result(RemoveDirectoryW(path.c_str()));
}

Status WindowsPlatform::Move(const std::wstring& from, const std::wstring& to,
                             bool replace) {
  const DWORD flags =
      MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0U);
  return Result(MoveFileExW(from.c_str(), to.c_str(), flags));
}

Status WindowsPlatform::Link(const std::wstring& from, const std::wstring& to) {
  if (CreateHardLinkW(to.c_str(), from.c_str(), nullptr) != FALSE) {
    return Status::kOk;
  }
  const Status status = Result(CopyFileW(from.c_str(), to.c_str(), TRUE));
  return status == Status::kOk ? Flushed(to) : status;
}

Status WindowsPlatform::Copy(const std::wstring& from, const std::wstring& to) {
  const Status status = Result(CopyFileW(from.c_str(), to.c_str(), FALSE));
  return status == Status::kOk ? Flushed(to) : status;
}

Status WindowsPlatform::Delete(const std::wstring& path) {
  return Result(DeleteFileW(path.c_str()));
}

Status WindowsPlatform::SetAttributes(const std::wstring& path,
                                      std::uint32_t attributes) {
  const DWORD kept =
      attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY |
                                       FILE_ATTRIBUTE_REPARSE_POINT);
  return Result(SetFileAttributesW(path.c_str(),
                                   kept == 0 ? FILE_ATTRIBUTE_NORMAL : kept));
}

std::optional<std::string> WindowsPlatform::ReadBytes(
    const std::wstring& path) {
  const Handle file = Open(path, GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  LARGE_INTEGER size{};
  if (!file || GetFileSizeEx(file.get(), &size) == FALSE ||
      size.QuadPart > kLargestFile) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
               &read, nullptr) == FALSE ||
      read != bytes.size()) {
    return std::nullopt;
  }
  return bytes;
}

Status WindowsPlatform::WriteBytes(const std::wstring& path,
                                   const std::string& bytes) {
  const std::wstring temporary = path + L".tolvarin-setup";
  {
    const Handle file = Open(temporary, GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD written = 0;
    if (!file ||
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                  &written, nullptr) == FALSE ||
        written != bytes.size() || FlushFileBuffers(file.get()) == FALSE) {
      const Status status = FromError(GetLastError());
      DeleteFileW(temporary.c_str());
      return status == Status::kOk ? Status::kFailed : status;
    }
  }
  return Move(temporary, path, true);
}

std::vector<std::wstring> WindowsPlatform::Names(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return names;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") {
      names.push_back(name);
    }
  } while (FindNextFileW(search, &found) != FALSE);
  FindClose(search);
  return names;
}

std::string WindowsPlatform::Digest(const std::wstring& path) {
  const std::optional<std::string> bytes = ReadBytes(path);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!bytes || BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM,
                                            nullptr, 0) != 0) {
    return {};
  }
  BCRYPT_HASH_HANDLE hash = nullptr;
  std::string hex;
  if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
    constexpr std::size_t kSize = 32;
    unsigned char digest[kSize] = {};
    auto* data =
        reinterpret_cast<unsigned char*>(const_cast<char*>(bytes->data()));
    if (BCryptHashData(hash, data, static_cast<ULONG>(bytes->size()), 0) == 0 &&
        BCryptFinishHash(hash, digest, kSize, 0) == 0) {
      for (const unsigned char byte : digest) {
        hex.push_back("0123456789abcdef"[byte >> 4U]);
        hex.push_back("0123456789abcdef"[byte & 0xFU]);
      }
    }
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return hex;
}

bool WindowsPlatform::SameBytes(const std::wstring& a, const std::wstring& b) {
  const std::optional<std::string> first = ReadBytes(a);
  return first && first == ReadBytes(b);
}

bool WindowsPlatform::WritableByUsers(const std::wstring& folder) {
  return UsersMayWrite(AccessEntries(folder));
}

std::optional<RegData> WindowsPlatform::ReadValue(Root root,
                                                  const std::wstring& key,
                                                  const std::wstring& name) {
  Key opened;
  if (OpenKey(root, key, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, nullptr,
                       &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegData data{type, std::vector<std::uint8_t>(size)};
  if (RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type,
                       data.bytes.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.bytes.resize(size);
  return data;
}

Status WindowsPlatform::WriteValue(Root root, const std::wstring& key,
                                   const std::wstring& name,
                                   const RegData& data) {
  Key created;
  LSTATUS status = CreateKeyHandle(root, key, KEY_SET_VALUE, &created);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(created.get(), name.c_str(), 0, data.type,
                            data.bytes.data(),
                            static_cast<DWORD>(data.bytes.size()));
  }
  return FromError(static_cast<DWORD>(status));
}

Status WindowsPlatform::DeleteValue(Root root, const std::wstring& key,
                                    const std::wstring& name) {
  Key opened;
  LSTATUS status = OpenKey(root, key, KEY_SET_VALUE, &opened);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueW(opened.get(), name.c_str());
  }
  return FromError(static_cast<DWORD>(status));
}

bool WindowsPlatform::KeyExists(Root root, const std::wstring& key) {
  Key opened;
  return OpenKey(root, key, KEY_QUERY_VALUE, &opened) == ERROR_SUCCESS;
}

Status WindowsPlatform::CreateKey(Root root, const std::wstring& key) {
  Key created;
  return FromError(static_cast<DWORD>(
      CreateKeyHandle(root, key, KEY_QUERY_VALUE, &created)));
}

Status WindowsPlatform::DeleteEmptyKey(Root root, const std::wstring& key) {
  Key opened;
  LSTATUS status = OpenKey(root, key, KEY_QUERY_VALUE, &opened);
  if (status != ERROR_SUCCESS) {
    return FromError(static_cast<DWORD>(status));
  }
  DWORD keys = 0;
  DWORD values = 0;
  status =
      RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &keys, nullptr,
                       nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) {
    return FromError(static_cast<DWORD>(status));
  }
  if (keys != 0 || values != 0) {
    return Status::kNotEmpty;
  }
  opened.reset();
  return FromError(static_cast<DWORD>(
      RegDeleteKeyExW(RootKey(root), key.c_str(), KEY_WOW64_64KEY, 0)));
}

Status WindowsPlatform::Flush(Root root, const std::wstring& key) {
  Key opened;
  LSTATUS status = OpenKey(root, key, KEY_QUERY_VALUE, &opened);
  if (status == ERROR_FILE_NOT_FOUND) {
    return Status::kOk;  // nothing of it to write
  }
  if (status == ERROR_SUCCESS) {
    status = RegFlushKey(opened.get());
  }
  return FromError(static_cast<DWORD>(status));
}

Status WindowsPlatform::MakeShortcut(const std::wstring& path,
                                     const std::wstring& target,
                                     const std::wstring& description) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Status status = Status::kFailed;
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    const std::wstring folder = target.substr(0, target.rfind(L'\\'));
    IPersistFile* file = nullptr;
    const std::wstring temporary = path + L".tolvarin-setup";
    if (SUCCEEDED(link->SetPath(target.c_str())) &&
        SUCCEEDED(link->SetWorkingDirectory(folder.c_str())) &&
        SUCCEEDED(link->SetDescription(description.c_str())) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile,
                                       reinterpret_cast<void**>(&file)))) {
      // Wine's shell may say it saved into a folder that is a file.
      if (SUCCEEDED(file->Save(temporary.c_str(), TRUE)) &&
          Facts(temporary).exists) {
        status = Flushed(temporary);
        if (status == Status::kOk) {
          status = Move(temporary, path, true);
        }
      }
      file->Release();
    }
    link->Release();
    if (status != Status::kOk) {
      DeleteFileW(temporary.c_str());
    }
  }
  if (SUCCEEDED(com)) {
    CoUninitialize();
  }
  return status;
}

std::wstring WindowsPlatform::Folder(ShellFolder which, Root root) {
  const bool all = root == Root::kMachine;
  const KNOWNFOLDERID& id =
      which == ShellFolder::kPrograms
          ? (all ? FOLDERID_CommonPrograms : FOLDERID_Programs)
          : (all ? FOLDERID_PublicDesktop : FOLDERID_Desktop);
  wchar_t* path = nullptr;
  if (FAILED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path))) {
    return {};
  }
  std::wstring folder = path;
  CoTaskMemFree(path);
  return folder;
}

void WindowsPlatform::NotifyAssociationsChanged() {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

std::optional<FileUser> WindowsPlatform::FirstInUse(
    const std::vector<std::wstring>& files) {
  const std::map<std::wstring, bool> modules = ModulesInUse(files);
  for (const std::wstring& file : files) {
    for (const auto& [module, launcher] : modules) {
      if (SameName(module, file)) {
        return FileUser{file, launcher};
      }
    }
  }
  for (const std::wstring& file : files) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    // The access a rename needs, and the access to write, sharing
    // everything: another program's handle without delete sharing refuses
    // the first; a program that runs the file or has it loaded as a
    // library, which may rename it but not delete it, the second.
    for (const DWORD access : {DWORD{DELETE}, DWORD{GENERIC_WRITE}}) {
      const Handle opened = Open(
          file, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
          OPEN_EXISTING);
      if (!opened && GetLastError() == ERROR_SHARING_VIOLATION) {
        return FileUser{file, false};
      }
    }
  }
  return std::nullopt;
}

void WindowsPlatform::Sleep(int milliseconds) {
  ::Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace setup
