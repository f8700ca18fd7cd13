#include "steps.h"

#include <algorithm>
#include <set>

#include "product.h"
#include "registration.h"
#include "text.h"

namespace setup {
namespace {

constexpr std::size_t kFolderCount = kOwnFolders.size();

Outcome FromStatus(Platform& platform, const std::wstring& path,
                   Status status) {
  return status == Status::kOk ? Outcome{}
                               : FileFailure(platform, path, status);
}

std::wstring Parent(const std::wstring& path) {
  return path.substr(0, path.rfind(L'\\'));
}

// Clears the read-only attribute a file had, as Windows Installer does: it
// keeps neither a replace nor a delete from happening.
Status Writable(Platform& platform, const std::wstring& path,
                const SavedFile& saved) {
  return (saved.attributes & kReadOnly) == 0
             ? Status::kOk
             : platform.SetAttributes(path, saved.attributes & ~kReadOnly);
}

// The file's attributes as they were.
bool Restored(Platform& platform, const std::wstring& path,
              const SavedFile& saved) {
  return platform.Facts(path).attributes == saved.attributes ||
         platform.SetAttributes(path, saved.attributes) == Status::kOk;
}

Outcome Failed(const std::wstring& what) {
  return Refusal(kExitFailed, L"not_registered", what);
}

bool FlushRegistration(Platform& platform, Root root) {
  return platform.Flush(root, L"Software") == Status::kOk &&
         platform.Flush(root, kClassesKey) == Status::kOk;
}

// The product's values the new registration has no place for; the crash
// dumps' settings only where they are this product's.
std::optional<std::wstring> DeleteLeftOut(Platform& platform, Root root,
                                          const std::vector<RegValue>& kept,
                                          bool dumpsOurs) {
  std::set<std::wstring> names;
  for (const RegValue& value : kept) {
    names.insert(Folded(value.key + L'|' + value.name));
  }
  for (const ValueName& own : OwnValues()) {
    if (!dumpsOurs && Folded(own.key) == Folded(CrashDumpsKey())) {
      continue;
    }
    if (names.count(Folded(own.key + L'|' + own.name)) == 0 &&
        !Gone(platform.DeleteValue(root, own.key, own.name))) {
      return own.key;
    }
  }
  return std::nullopt;
}

std::optional<std::wstring> DeleteEmptyKeys(Platform& platform, Root root) {
  for (const std::wstring& key : OwnKeys()) {
    if (!Cleared(platform.DeleteEmptyKey(root, key))) {
      return key;
    }
  }
  return std::nullopt;
}

std::optional<std::wstring> WriteShortcuts(Platform& platform,
                                           const InstallJob& job) {
  const std::wstring exe = Join(job.folder, kExeName);
  for (const ShellFolder which : kShortcuts) {
    const std::wstring path = ShortcutPath(platform, job.root, which);
    const bool wanted = which == ShellFolder::kPrograms || job.choices.desktop;
    const Status status =
        wanted ? platform.MakeShortcut(path, exe, job.shortcutDescription)
               : platform.Delete(path);
    if (path.empty() || !Gone(status)) {
      return path;
    }
  }
  return std::nullopt;
}

// What the registration there says of the crash dumps' settings: 0 none of
// its own, 1 written, 2 written and the LocalDumps key made for them.
std::uint32_t DumpsWritten(Platform& platform, Root root) {
  const std::uint32_t written =
      ReadDword(platform, root, kUninstallKey, L"CrashDumps").value_or(0);
  return written <= 2 ? written : 0;
}

// The LocalDumps key, when this product made it and left nothing in it: it
// goes, since while it is there Windows keeps every program's dumps.
std::optional<std::wstring> DeleteDumpsKey(Platform& platform, Root root,
                                           bool made) {
  if (made && !Cleared(platform.DeleteEmptyKey(root, kLocalDumpsKey))) {
    return std::wstring(kLocalDumpsKey);
  }
  return std::nullopt;
}

// The registration of the job's installation, written whole: what the
// choices leave out goes first, the version is written last.
Outcome WriteRegistration(Platform& platform, const InstallJob& job) {
  const std::uint32_t written = DumpsWritten(platform, job.root);
  const bool made = written == 2;
  // Settings for Tolvarin that an administrator made stay theirs.
  const bool theirs =
      written == 0 && platform.KeyExists(job.root, CrashDumpsKey());
  Choices choices = job.choices;
  choices.crashDumps = choices.crashDumps && !theirs;
  const bool crashDumps = choices.crashDumps;
  const std::vector<RegValue> values = RegistrationValues(
      {job.folder, job.version, job.sizeKiB, choices, job.language,
       crashDumps && (made || !platform.KeyExists(job.root, kLocalDumpsKey))});
  if (const auto key = DeleteLeftOut(platform, job.root, values, !theirs)) {
    return Failed(*key);
  }
  if (const auto key = DeleteEmptyKeys(platform, job.root)) {
    return Failed(*key);
  }
  if (const auto key =
          DeleteDumpsKey(platform, job.root, made && !crashDumps)) {
    return Failed(*key);
  }
  for (const RegValue& value : values) {
    if (platform.WriteValue(job.root, value.key, value.name, value.data) !=
        Status::kOk) {
      return Failed(value.key);
    }
  }
  if (const auto path = WriteShortcuts(platform, job)) {
    return Failed(*path);
  }
  return FlushRegistration(platform, job.root) ? Outcome{}
                                               : Failed(kUninstallKey);
}

Outcome RemoveRegistration(Platform& platform, Root root) {
  const std::uint32_t written = DumpsWritten(platform, root);
  const bool made = written == 2;
  if (const auto key = DeleteLeftOut(platform, root, {}, written != 0)) {
    return Failed(*key);
  }
  if (const auto key = DeleteEmptyKeys(platform, root)) {
    return Failed(*key);
  }
  if (const auto key = DeleteDumpsKey(platform, root, made)) {
    return Failed(*key);
  }
  for (const ShellFolder which : kShortcuts) {
    const std::wstring path = ShortcutPath(platform, root, which);
    if (!Gone(platform.Delete(path))) {
      return Failed(path);
    }
  }
  return FlushRegistration(platform, root) ? Outcome{} : Failed(kUninstallKey);
}

// The registration and the shortcuts as the record saw them.
bool RestoreRegistration(Platform& platform, Root root, const Record& record) {
  bool restored = true;
  for (const SavedValue& value : record.values) {
    const Status status =
        value.data
            ? platform.WriteValue(root, value.key, value.name, *value.data)
            : platform.DeleteValue(root, value.key, value.name);
    restored = restored && Gone(status);
  }
  for (const SavedKey& key : record.keys) {
    restored = restored &&
               (key.existed ? platform.CreateKey(root, key.key) == Status::kOk
                            : Cleared(platform.DeleteEmptyKey(root, key.key)));
  }
  const std::size_t count =
      std::min(record.shortcuts.size(), kShortcuts.size());
  for (std::size_t i = 0; i < count; ++i) {
    const std::wstring path = ShortcutPath(platform, root, kShortcuts.at(i));
    const std::optional<std::string>& bytes = record.shortcuts.at(i);
    const Status status =
        bytes ? platform.WriteBytes(path, *bytes) : platform.Delete(path);
    restored = restored && Gone(status);
  }
  return restored && FlushRegistration(platform, root);
}

Step MakeFolderStep(Platform& platform, const std::wstring& path,
                    bool restricted) {
  return {[&platform, path, restricted] {
            return FromStatus(platform, path,
                              platform.MakeFolder(path, restricted));
          },
          [&platform, path] {
            const FileFacts facts = platform.Facts(path);
            // A folder something else was put into stays.
            return !facts.exists || !facts.folder || facts.link ||
                   Cleared(platform.RemoveFolder(path));
          }};
}

// The journal folder: made for the job, and gone with whatever the job left
// in it once every later step is undone.
Step JournalStep(Platform& platform, const std::wstring& folder,
                 bool restricted) {
  const std::wstring journal = JournalOf(folder);
  return {[&platform, journal, restricted] {
            return FromStatus(platform, journal,
                              platform.MakeFolder(journal, restricted));
          },
          [&platform, folder, journal] {
            if (!Inside(platform, folder, kJournalFolder)) {
              return false;
            }
            for (std::size_t n = 0; n < kOwnFiles.size(); ++n) {
              for (const wchar_t* suffix : {L".new", L".old"}) {
                platform.Delete(JournalFile(folder, n, suffix));
              }
            }
            return Gone(platform.RemoveFolder(journal));
          }};
}

// The new file n staged in the journal.
Step StageStep(Platform& platform, const InstallJob* job,
               const std::wstring& folder, std::size_t n) {
  const std::wstring staged = JournalFile(folder, n, L".new");
  return {[&platform, job, staged, n] {
            const std::wstring source = Join(job->payload, Decimal(n));
            return FromStatus(platform, staged, platform.Copy(source, staged));
          },
          [&platform, staged] { return Gone(platform.Delete(staged)); }};
}

// Replaces file n by its staged version in one rename, keeping the previous
// version as n.old.
Outcome ReplaceFile(Platform& platform, const Record& record, std::size_t n) {
  const std::wstring name = kOwnFiles.at(n);
  const SavedFile saved = record.files.at(n);
  const std::optional<std::wstring> path =
      Inside(platform, record.folder, name);
  if (!path) {
    return Refusal(kExitFailed, L"link", Join(record.folder, name));
  }
  if (saved.existed) {
    Status status = Writable(platform, *path, saved);
    if (status == Status::kOk) {
      status = platform.Link(*path, JournalFile(record.folder, n, L".old"));
    }
    if (status != Status::kOk) {
      return FileFailure(platform, *path, status);
    }
  }
  return FromStatus(platform, *path,
                    platform.Move(JournalFile(record.folder, n, L".new"), *path,
                                  saved.existed));
}

// Puts file n back as it was: its backup over it, unless it never was
// replaced (the backup may be a copy on another volume, which no rename can
// bring back); or gone, when it was not there.
bool PutBack(Platform& platform, const Record& record, std::size_t n) {
  const SavedFile saved = record.files.at(n);
  const std::wstring old = JournalFile(record.folder, n, L".old");
  const std::optional<std::wstring> path =
      Inside(platform, record.folder, kOwnFiles.at(n));
  if (!path) {
    return false;
  }
  if (!saved.existed) {
    const FileFacts facts = platform.Facts(*path);
    return !facts.exists || facts.folder || Gone(platform.Delete(*path));
  }
  if (platform.Facts(old).exists) {
    const Status status = platform.SameBytes(old, *path)
                              ? platform.Delete(old)
                              : platform.Move(old, *path, true);
    if (status != Status::kOk) {
      return false;
    }
  }
  return Restored(platform, *path, saved);
}

// File n renamed aside into the journal, to be deleted on commit.
Outcome MoveAside(Platform& platform, const Record& record, std::size_t n) {
  const SavedFile saved = record.files.at(n);
  const std::wstring name = kOwnFiles.at(n);
  const std::optional<std::wstring> path =
      Inside(platform, record.folder, name);
  if (!path) {
    return Refusal(kExitFailed, L"link", Join(record.folder, name));
  }
  if (!saved.existed) {
    return {};
  }
  Status status = Writable(platform, *path, saved);
  if (status == Status::kOk) {
    status =
        platform.Move(*path, JournalFile(record.folder, n, L".gone"), false);
  }
  return FromStatus(platform, *path, status);
}

bool MoveBack(Platform& platform, const Record& record, std::size_t n) {
  const SavedFile saved = record.files.at(n);
  const std::wstring aside = JournalFile(record.folder, n, L".gone");
  const std::optional<std::wstring> path =
      Inside(platform, record.folder, kOwnFiles.at(n));
  if (!path) {
    return false;
  }
  if (platform.Facts(aside).exists &&
      platform.Move(aside, *path, false) != Status::kOk) {
    return false;
  }
  return !saved.existed || Restored(platform, *path, saved);
}

// A program may rename a file it runs or has loaded, but not delete it:
// each file aside must be free to go.
Outcome AsideFree(Platform& platform, const Record& record) {
  std::vector<std::wstring> aside;
  aside.reserve(record.files.size());
  for (std::size_t n = 0; n < record.files.size(); ++n) {
    aside.push_back(JournalFile(record.folder, n, L".gone"));
  }
  const std::optional<FileUser> user = platform.FirstInUse(aside);
  if (!user) {
    return {};
  }
  const auto n = static_cast<std::size_t>(
      std::find(aside.begin(), aside.end(), user->file) - aside.begin());
  return Refusal(kExitInUse, user->launcher ? L"running" : L"in_use",
                 Join(record.folder, kOwnFiles.at(n)));
}

// The folders the job makes: above the installation folder, that folder,
// the journal and the installation's own.
void AddFolderSteps(Platform& platform, Root root, const Record& record,
                    std::vector<Step>* steps) {
  const std::wstring& folder = record.folder;
  const bool restricted = root == Root::kMachine;
  std::vector<std::wstring> above;
  for (std::wstring path = folder; above.size() < record.madeLevels;
       path = Parent(path)) {
    above.insert(above.begin(), path);
  }
  for (const std::wstring& path : above) {
    // Only the installation folder itself is restricted, not those above.
    steps->push_back(
        MakeFolderStep(platform, path, restricted && path == folder));
  }
  steps->push_back(JournalStep(platform, folder, restricted));
  for (std::size_t i = 0; i < kFolderCount; ++i) {
    if ((record.madeFolders & (1U << i)) != 0) {
      steps->push_back(MakeFolderStep(platform, Join(folder, kOwnFolders.at(i)),
                                      restricted));
    }
  }
}

}  // namespace

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  return folder + L"\\" + name;
}

std::wstring JournalOf(const std::wstring& folder) {
  return Join(folder, kJournalFolder);
}

std::wstring JournalFile(const std::wstring& folder, std::size_t number,
                         const wchar_t* suffix) {
  return Join(JournalOf(folder), Decimal(number) + suffix);
}

std::optional<std::wstring> Inside(Platform& platform,
                                   const std::wstring& folder,
                                   const std::wstring& relative) {
  std::wstring path = folder;
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t end =
        std::min(relative.find(L'\\', start), relative.size());
    path = Join(path, relative.substr(start, end - start));
    if (platform.Facts(path).link) {
      return std::nullopt;
    }
    start = end + 1;
  }
  return path;
}

std::optional<std::wstring> LinkInside(Platform& platform,
                                       const std::wstring& folder) {
  std::vector<std::wstring> names(kOwnFiles.begin(), kOwnFiles.end());
  names.insert(names.end(), kOwnFolders.begin(), kOwnFolders.end());
  names.emplace_back(kJournalFolder);
  for (const std::wstring& name : names) {
    if (!Inside(platform, folder, name)) {
      return Join(folder, name);
    }
  }
  return std::nullopt;
}

bool Gone(Status status) {
  return status == Status::kOk || status == Status::kMissing;
}

bool Cleared(Status status) {
  return Gone(status) || status == Status::kNotEmpty;
}

Outcome Refusal(int code, const std::wstring& reason,
                const std::wstring& detail) {
  return {code, reason, detail};
}

Outcome FileFailure(Platform& platform, const std::wstring& path,
                    Status status) {
  if (status == Status::kInUse || status == Status::kDenied) {
    if (const std::optional<FileUser> user = platform.FirstInUse({path})) {
      return Refusal(kExitInUse, user->launcher ? L"running" : L"in_use", path);
    }
    if (status == Status::kInUse) {
      return Refusal(kExitInUse, L"in_use", path);
    }
    return Refusal(kExitFailed, L"denied", path);
  }
  return Refusal(kExitFailed, L"not_written", path);
}

std::vector<Step> InstallSteps(Platform& platform, Root root,
                               const Record& record, const InstallJob* job) {
  std::vector<Step> steps;
  AddFolderSteps(platform, root, record, &steps);
  for (std::size_t n = 0; n < record.files.size(); ++n) {
    steps.push_back(StageStep(platform, job, record.folder, n));
  }
  // The uninstaller first: from the first file replaced on, the folder
  // holds an uninstaller that knows this job.
  for (std::size_t n = 0; n < record.files.size(); ++n) {
    steps.push_back(
        {[&platform, &record, n] { return ReplaceFile(platform, record, n); },
         [&platform, &record, n] { return PutBack(platform, record, n); }});
  }
  steps.push_back(
      {[&platform, job] { return WriteRegistration(platform, *job); },
       [&platform, root, &record] {
         return RestoreRegistration(platform, root, record);
       }});
  return steps;
}

std::vector<Step> UninstallSteps(Platform& platform, Root root,
                                 const Record& record) {
  std::vector<Step> steps = {
      JournalStep(platform, record.folder, root == Root::kMachine)};
  // The uninstaller's own file stays until its original process has ended.
  for (std::size_t n = kUninstaller + 1; n < record.files.size(); ++n) {
    steps.push_back(
        {[&platform, &record, n] { return MoveAside(platform, record, n); },
         [&platform, &record, n] { return MoveBack(platform, record, n); }});
  }
  steps.push_back({[&platform, &record] { return AsideFree(platform, record); },
                   [] { return true; }});
  if (record.registers) {
    steps.push_back(
        {[&platform, root] { return RemoveRegistration(platform, root); },
         [&platform, root, &record] {
           return RestoreRegistration(platform, root, record);
         }});
  }
  return steps;
}

}  // namespace setup
