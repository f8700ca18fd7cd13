#include "job.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <set>
#include <vector>

#include "folder.h"
#include "product.h"
#include "record.h"
#include "text.h"

namespace setup {
namespace {

constexpr std::uint32_t kRegBinary = 3;
constexpr int kPollMilliseconds = 500;
constexpr std::size_t kFileCount = std::size(kOwnFiles);
constexpr std::size_t kFolderCount = std::size(kOwnFolders);

// A step of a job. Do changes one thing; Undo puts it back as the record
// says it was, whether or not Do ran or finished, and may run again.
struct Step {
  std::function<Outcome()> perform;
  std::function<bool()> undo;
};

Outcome Refusal(int code, const std::wstring& reason,
                const std::wstring& detail = {}) {
  return {code, reason, detail};
}

bool Failed(const Outcome& outcome) { return outcome.code != kExitDone; }

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  return folder + L"\\" + name;
}

std::wstring Parent(const std::wstring& path) {
  return path.substr(0, path.rfind(L'\\'));
}

std::wstring JournalOf(const std::wstring& folder) {
  return Join(folder, kJournalFolder);
}

std::wstring JournalFile(const std::wstring& folder, std::size_t number,
                         const wchar_t* suffix) {
  return Join(JournalOf(folder), Decimal(number) + suffix);
}

bool Gone(Status status) {
  return status == Status::kOk || status == Status::kMissing;
}

// A folder or key removed unless something else is in it.
bool Cleared(Status status) {
  return Gone(status) || status == Status::kNotEmpty;
}

// The path of a name below the folder, when no part of it below the folder
// is a link or a junction.
std::optional<std::wstring> Inside(Platform& platform,
                                   const std::wstring& folder,
                                   const std::wstring& relative) {
  std::wstring path = folder;
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t end = std::min(relative.find(L'\\', start),
                                     relative.size());
    path = Join(path, relative.substr(start, end - start));
    if (platform.Facts(path).link) {
      return std::nullopt;
    }
    start = end + 1;
  }
  return path;
}

// The first own name below the folder that is a link.
std::optional<std::wstring> LinkInside(Platform& platform,
                                       const std::wstring& folder) {
  std::vector<std::wstring> names(std::begin(kOwnFiles), std::end(kOwnFiles));
  names.insert(names.end(), std::begin(kOwnFolders), std::end(kOwnFolders));
  names.emplace_back(kJournalFolder);
  for (const std::wstring& name : names) {
    if (!Inside(platform, folder, name)) {
      return Join(folder, name);
    }
  }
  return std::nullopt;
}

// The refusal for a file operation that failed.
Outcome FileFailure(Platform& platform, const std::wstring& path,
                    Status status) {
  if (status == Status::kInUse || status == Status::kDenied) {
    if (const std::optional<FileUser> user = platform.FirstInUse({path})) {
      return Refusal(kExitInUse, user->launcher ? L"running" : L"in_use",
                     path);
    }
    if (status == Status::kInUse) {
      return Refusal(kExitInUse, L"in_use", path);
    }
    return Refusal(kExitFailed, L"denied", path);
  }
  return Refusal(kExitFailed, L"not_written", path);
}

Outcome FromStatus(Platform& platform, const std::wstring& path,
                   Status status) {
  return status == Status::kOk ? Outcome{}
                               : FileFailure(platform, path, status);
}

// Waits while a process uses one of the files, or another program holds
// one, for at most the given time; then refuses.
std::optional<Outcome> WaitUntilFree(Platform& platform,
                                     const std::vector<std::wstring>& files,
                                     int waitMilliseconds) {
  for (int waited = 0;; waited += kPollMilliseconds) {
    const std::optional<FileUser> user = platform.FirstInUse(files);
    if (!user) {
      return std::nullopt;
    }
    if (waited >= waitMilliseconds) {
      return Refusal(kExitInUse, user->launcher ? L"running" : L"in_use",
                     user->file);
    }
    platform.Sleep(kPollMilliseconds);
  }
}

std::vector<std::wstring> OwnPaths(const std::wstring& folder,
                                   std::size_t first) {
  std::vector<std::wstring> paths;
  for (std::size_t n = first; n < kFileCount; ++n) {
    paths.push_back(Join(folder, kOwnFiles[n]));
  }
  return paths;
}

// The record: what the job may change, as it is now.
Record Snapshot(Platform& platform, Root root, JobKind kind,
                const std::wstring& folder, const std::wstring& previous,
                bool registers) {
  Record record;
  record.kind = kind;
  record.folder = folder;
  record.previous = previous;
  record.registers = registers;
  for (const wchar_t* name : kOwnFiles) {
    const FileFacts facts = platform.Facts(Join(folder, name));
    record.files.push_back(
        {facts.exists && !facts.folder, facts.attributes});
  }
  const std::size_t drive = PathRoot(folder).size();
  for (std::wstring path = folder;
       path.size() > drive + 1 && !platform.Facts(path).exists;
       path = Parent(path)) {
    ++record.madeLevels;
  }
  for (std::size_t i = 0; i < kFolderCount; ++i) {
    if (!platform.Facts(Join(folder, kOwnFolders[i])).exists) {
      record.madeFolders |= 1U << i;
    }
  }
  if (registers) {
    for (const ValueName& value : OwnValues()) {
      record.values.push_back(
          {value.key, value.name,
           platform.ReadValue(root, value.key, value.name)});
    }
    for (const std::wstring& key : OwnKeys()) {
      record.keys.push_back({key, platform.KeyExists(root, key)});
    }
    for (const ShellFolder which : kShortcuts) {
      record.shortcuts.push_back(
          platform.ReadBytes(ShortcutPath(platform, root, which)));
    }
  }
  return record;
}

bool FlushRegistration(Platform& platform, Root root) {
  return platform.Flush(root, L"Software") == Status::kOk &&
         platform.Flush(root, kClassesKey) == Status::kOk;
}

Status WriteRecord(Platform& platform, Root root, const Record& record) {
  const Status status = platform.WriteValue(
      root, kJobKey, L"Record", {kRegBinary, EncodeRecord(record)});
  return status == Status::kOk ? platform.Flush(root, kJobKey) : status;
}

// The record goes first: a "Done" without it is nothing to act on.
bool DeleteRecord(Platform& platform, Root root) {
  const bool deleted = Gone(platform.DeleteValue(root, kJobKey, L"Record")) &&
                       Gone(platform.DeleteValue(root, kJobKey, L"Done")) &&
                       Gone(platform.DeleteEmptyKey(root, kJobKey)) &&
                       Cleared(platform.DeleteEmptyKey(root, kProductKey));
  return deleted && platform.Flush(root, L"Software") == Status::kOk;
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
    restored = restored && (key.existed ? platform.CreateKey(root, key.key) ==
                                              Status::kOk
                                        : Cleared(platform.DeleteEmptyKey(
                                              root, key.key)));
  }
  for (std::size_t i = 0; i < record.shortcuts.size(); ++i) {
    const std::wstring path = ShortcutPath(platform, root, kShortcuts[i]);
    const std::optional<std::string>& bytes = record.shortcuts[i];
    const Status status =
        bytes ? platform.WriteBytes(path, *bytes) : platform.Delete(path);
    restored = restored && Gone(status);
  }
  return restored && FlushRegistration(platform, root);
}

// A value's key and name as one text, letters in lower case.
std::wstring FoldedName(const std::wstring& key, const std::wstring& name) {
  std::wstring folded = key + L'|' + name;
  for (wchar_t& c : folded) {
    if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c - L'A' + L'a');
    }
  }
  return folded;
}

// What the choices leave out goes first; the version is written last.
Outcome WriteRegistration(Platform& platform, const InstallJob& job) {
  const Installation installation{job.folder, job.version, job.sizeKiB,
                                  job.choices};
  const std::vector<RegValue> values = RegistrationValues(installation);
  const auto failed = [](const std::wstring& what) {
    return Refusal(kExitFailed, L"not_registered", what);
  };
  std::set<std::wstring> kept;
  for (const RegValue& value : values) {
    kept.insert(FoldedName(value.key, value.name));
  }
  for (const ValueName& own : OwnValues()) {
    if (kept.count(FoldedName(own.key, own.name)) == 0 &&
        !Gone(platform.DeleteValue(job.root, own.key, own.name))) {
      return failed(own.key);
    }
  }
  for (const std::wstring& key : OwnKeys()) {
    if (!Cleared(platform.DeleteEmptyKey(job.root, key))) {
      return failed(key);
    }
  }
  for (const RegValue& value : values) {
    if (platform.WriteValue(job.root, value.key, value.name, value.data) !=
        Status::kOk) {
      return failed(value.key);
    }
  }
  const std::wstring exe = Join(job.folder, kExeName);
  for (const ShellFolder which : kShortcuts) {
    const std::wstring path = ShortcutPath(platform, job.root, which);
    const bool wanted = which == ShellFolder::kPrograms || job.choices.desktop;
    const Status status =
        wanted ? platform.MakeShortcut(path, exe, job.shortcutDescription)
               : platform.Delete(path);
    if (path.empty() || !Gone(status)) {
      return failed(path);
    }
  }
  return FlushRegistration(platform, job.root) ? Outcome{}
                                               : failed(kUninstallKey);
}

Outcome RemoveRegistration(Platform& platform, Root root) {
  for (const ValueName& own : OwnValues()) {
    if (!Gone(platform.DeleteValue(root, own.key, own.name))) {
      return Refusal(kExitFailed, L"not_registered", own.key);
    }
  }
  for (const std::wstring& key : OwnKeys()) {
    if (!Cleared(platform.DeleteEmptyKey(root, key))) {
      return Refusal(kExitFailed, L"not_registered", key);
    }
  }
  for (const ShellFolder which : kShortcuts) {
    const std::wstring path = ShortcutPath(platform, root, which);
    if (!Gone(platform.Delete(path))) {
      return Refusal(kExitFailed, L"not_registered", path);
    }
  }
  return FlushRegistration(platform, root)
             ? Outcome{}
             : Refusal(kExitFailed, L"not_registered", kUninstallKey);
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
            for (std::size_t n = 0; n < kFileCount; ++n) {
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
            return FromStatus(platform, staged,
                              platform.Copy(source, staged));
          },
          [&platform, staged] { return Gone(platform.Delete(staged)); }};
}

// File n replaced in one rename, its previous version kept as n.old.
Step ReplaceStep(Platform& platform, const Record& record, std::size_t n) {
  const std::wstring& folder = record.folder;
  const SavedFile saved = record.files[n];
  const std::wstring name = kOwnFiles[n];
  const std::wstring staged = JournalFile(folder, n, L".new");
  const std::wstring old = JournalFile(folder, n, L".old");
  return {[&platform, folder, name, staged, old, saved] {
            const std::optional<std::wstring> path =
                Inside(platform, folder, name);
            if (!path) {
              return Refusal(kExitFailed, L"link", Join(folder, name));
            }
            if (saved.existed) {
              Status status = Status::kOk;
              if ((saved.attributes & kReadOnly) != 0) {
                status = platform.SetAttributes(
                    *path, saved.attributes & ~kReadOnly);
              }
              if (status == Status::kOk) {
                status = platform.Link(*path, old);
              }
              if (status != Status::kOk) {
                return FileFailure(platform, *path, status);
              }
            }
            return FromStatus(platform, *path,
                              platform.Move(staged, *path, saved.existed));
          },
          [&platform, folder, name, old, saved] {
            const std::optional<std::wstring> path =
                Inside(platform, folder, name);
            if (!path) {
              return false;
            }
            if (!saved.existed) {
              const FileFacts facts = platform.Facts(*path);
              return !facts.exists || facts.folder ||
                     Gone(platform.Delete(*path));
            }
            // The backup goes back over the file, unless the file never was
            // replaced (the backup may be a copy on another volume, which
            // no rename can bring back).
            if (platform.Facts(old).exists) {
              const Status status = platform.SameBytes(old, *path)
                                        ? platform.Delete(old)
                                        : platform.Move(old, *path, true);
              if (status != Status::kOk) {
                return false;
              }
            }
            return platform.Facts(*path).attributes == saved.attributes ||
                   platform.SetAttributes(*path, saved.attributes) ==
                       Status::kOk;
          }};
}

// File n renamed aside into the journal, to be deleted on commit.
Step AsideStep(Platform& platform, const Record& record, std::size_t n) {
  const std::wstring& folder = record.folder;
  const SavedFile saved = record.files[n];
  const std::wstring name = kOwnFiles[n];
  const std::wstring aside = JournalFile(folder, n, L".gone");
  return {[&platform, folder, name, aside, saved] {
            const std::optional<std::wstring> path =
                Inside(platform, folder, name);
            if (!path) {
              return Refusal(kExitFailed, L"link", Join(folder, name));
            }
            if (!saved.existed) {
              return Outcome{};
            }
            Status status = Status::kOk;
            if ((saved.attributes & kReadOnly) != 0) {
              status = platform.SetAttributes(*path,
                                              saved.attributes & ~kReadOnly);
            }
            if (status == Status::kOk) {
              status = platform.Move(*path, aside, false);
            }
            return FromStatus(platform, *path, status);
          },
          [&platform, folder, name, aside, saved] {
            const std::optional<std::wstring> path =
                Inside(platform, folder, name);
            if (!path) {
              return false;
            }
            if (platform.Facts(aside).exists &&
                platform.Move(aside, *path, false) != Status::kOk) {
              return false;
            }
            return !saved.existed ||
                   platform.Facts(*path).attributes == saved.attributes ||
                   platform.SetAttributes(*path, saved.attributes) ==
                       Status::kOk;
          }};
}

// The steps of an install job; job is none when an interrupted one is
// undone, which needs only the record.
std::vector<Step> InstallSteps(Platform& platform, Root root,
                               const Record& record, const InstallJob* job) {
  const std::wstring& folder = record.folder;
  const bool restricted = root == Root::kMachine;
  std::vector<std::wstring> above;
  for (std::wstring path = folder; above.size() < record.madeLevels;
       path = Parent(path)) {
    above.insert(above.begin(), path);
  }
  std::vector<Step> steps;
  for (const std::wstring& path : above) {
    // Only the installation folder itself is restricted, not those above.
    steps.push_back(
        MakeFolderStep(platform, path, restricted && path == folder));
  }
  steps.push_back(JournalStep(platform, folder, restricted));
  for (std::size_t i = 0; i < kFolderCount; ++i) {
    if ((record.madeFolders & (1U << i)) != 0) {
      steps.push_back(
          MakeFolderStep(platform, Join(folder, kOwnFolders[i]), restricted));
    }
  }
  for (std::size_t n = 0; n < record.files.size(); ++n) {
    steps.push_back(StageStep(platform, job, folder, n));
  }
  // The uninstaller first: from the first file replaced on, the folder
  // holds an uninstaller that knows this job.
  for (std::size_t n = 0; n < record.files.size(); ++n) {
    steps.push_back(ReplaceStep(platform, record, n));
  }
  steps.push_back({[&platform, job] { return WriteRegistration(platform, *job); },
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
    steps.push_back(AsideStep(platform, record, n));
  }
  // A program may rename a file it runs or has loaded, but not delete it:
  // each file aside must be free to go.
  steps.push_back({[&platform, &record] {
                     std::vector<std::wstring> aside;
                     for (std::size_t n = 0; n < record.files.size(); ++n) {
                       aside.push_back(JournalFile(record.folder, n, L".gone"));
                     }
                     const std::optional<FileUser> user =
                         platform.FirstInUse(aside);
                     if (!user) {
                       return Outcome{};
                     }
                     const std::size_t n = static_cast<std::size_t>(
                         std::find(aside.begin(), aside.end(), user->file) -
                         aside.begin());
                     return Refusal(kExitInUse,
                                    user->launcher ? L"running" : L"in_use",
                                    Join(record.folder, kOwnFiles[n]));
                   },
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

std::vector<Step> StepsOf(Platform& platform, Root root, const Record& record,
                          const InstallJob* job) {
  return record.kind == JobKind::kInstall
             ? InstallSteps(platform, root, record, job)
             : UninstallSteps(platform, root, record);
}

// Undoes the steps from the last to the first; stops at the first that
// cannot be undone, leaving the record for the next run.
bool UndoSteps(const std::vector<Step>& steps, std::size_t count) {
  for (std::size_t i = count; i-- > 0;) {
    if (!steps[i].undo()) {
      return false;
    }
  }
  return true;
}

// Runs the steps; when one fails, undoes them all and removes the record.
Outcome RunSteps(Platform& platform, Root root,
                 const std::vector<Step>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    Outcome outcome = steps[i].perform();
    if (Failed(outcome)) {
      if (!UndoSteps(steps, i + 1) || !DeleteRecord(platform, root)) {
        return Refusal(kExitFailed, L"not_undone", outcome.detail);
      }
      return outcome;
    }
  }
  return {};
}

// Deletes a file of the installation; its read-only attribute is no reason
// to keep it, as Windows Installer holds too.
bool DeleteOwnFile(Platform& platform, const std::wstring& path) {
  const FileFacts facts = platform.Facts(path);
  if (!facts.exists || facts.folder) {
    return !facts.exists;
  }
  if ((facts.attributes & kReadOnly) != 0 &&
      platform.SetAttributes(path, facts.attributes & ~kReadOnly) !=
          Status::kOk) {
    return false;
  }
  return Gone(platform.Delete(path));
}

// Deletes the installation's files from the folder an installation moved
// away from; a user's files stay, with the folders that hold them.
bool EmptyOldFolder(Platform& platform, const std::wstring& folder) {
  if (LinkInside(platform, folder)) {
    return false;
  }
  bool emptied = true;
  for (const wchar_t* name : kOwnFiles) {
    emptied = DeleteOwnFile(platform, Join(folder, name)) && emptied;
  }
  for (std::size_t i = kFolderCount; i-- > 0;) {
    emptied = Cleared(platform.RemoveFolder(Join(folder, kOwnFolders[i]))) &&
              emptied;
  }
  return Cleared(platform.RemoveFolder(folder)) && emptied;
}

bool FinishInstall(Platform& platform, const Record& record) {
  const std::wstring& folder = record.folder;
  if (!Inside(platform, folder, kJournalFolder)) {
    return false;
  }
  bool finished = true;
  for (std::size_t n = 0; n < kFileCount; ++n) {
    for (const wchar_t* suffix : {L".old", L".new"}) {
      finished = Gone(platform.Delete(JournalFile(folder, n, suffix))) &&
                 finished;
    }
  }
  finished = Gone(platform.RemoveFolder(JournalOf(folder))) && finished;
  if (!record.previous.empty() && !SameName(record.previous, folder)) {
    finished = EmptyOldFolder(platform, record.previous) && finished;
  }
  return finished;
}

bool FinishUninstall(Platform& platform, const Record& record) {
  const std::wstring& folder = record.folder;
  if (LinkInside(platform, folder)) {
    return false;
  }
  bool finished = true;
  for (std::size_t n = 0; n < kFileCount; ++n) {
    finished = Gone(platform.Delete(JournalFile(folder, n, L".gone"))) &&
               finished;
  }
  finished = DeleteOwnFile(platform, Join(folder, kOwnFiles[kUninstaller])) &&
             finished;
  finished = Gone(platform.RemoveFolder(JournalOf(folder))) && finished;
  for (std::size_t i = kFolderCount; i-- > 0;) {
    finished =
        Cleared(platform.RemoveFolder(Join(folder, kOwnFolders[i]))) &&
        finished;
  }
  return Cleared(platform.RemoveFolder(folder)) && finished;
}

bool ReadDone(Platform& platform, Root root) {
  const std::optional<RegData> done =
      platform.ReadValue(root, kJobKey, L"Done");
  return done && *done == DwordData(1);
}

// The record of the scope's job, if there is one that can be acted on.
enum class Found { kNone, kRecord, kNewer };
Found ReadRecord(Platform& platform, Root root, Record* record) {
  const std::optional<RegData> data =
      platform.ReadValue(root, kJobKey, L"Record");
  if (!data) {
    // A "Done" left alone, or the product key left empty.
    if (platform.KeyExists(root, kJobKey)) {
      DeleteRecord(platform, root);
    } else if (platform.KeyExists(root, kProductKey)) {
      platform.DeleteEmptyKey(root, kProductKey);
    }
    return Found::kNone;
  }
  switch (DecodeRecord(data->bytes, record)) {
    case RecordStatus::kOk:
      return Found::kRecord;
    case RecordStatus::kNewer:
      return Found::kNewer;
    case RecordStatus::kDamaged:
      break;
  }
  // Not this product's record, or damaged: never acted on.
  DeleteRecord(platform, root);
  return Found::kNone;
}

// Clears the journal folder of what an earlier job left without a record
// (the record lost with the registry, as when Wine's server is killed):
// only the names this engine or its earlier versions make.
std::optional<Outcome> ClearStaleJournal(Platform& platform,
                                         const std::wstring& folder) {
  const std::wstring journal = JournalOf(folder);
  const FileFacts facts = platform.Facts(journal);
  if (!facts.exists) {
    return std::nullopt;
  }
  if (facts.folder && !facts.link) {
    for (std::size_t n = 0; n < kFileCount; ++n) {
      for (const wchar_t* suffix : {L".new", L".old", L".gone", L".on",
                                    L".tmp"}) {
        platform.Delete(JournalFile(folder, n, suffix));
      }
    }
    for (const wchar_t* name :
         {L"job.ini", L"job.tmp", L"swap", L"register", L"done"}) {
      platform.Delete(Join(journal, name));
    }
  }
  if (!Gone(platform.RemoveFolder(journal))) {
    return Refusal(kExitFailed, L"journal_in_the_way", journal);
  }
  return std::nullopt;
}

// Writes the record, runs the steps and commits.
Outcome RunJob(Platform& platform, Root root, const Record& record,
               const InstallJob* job) {
  if (WriteRecord(platform, root, record) != Status::kOk) {
    DeleteRecord(platform, root);
    return Refusal(kExitFailed, L"not_registered", kJobKey);
  }
  const std::vector<Step> steps = StepsOf(platform, root, record, job);
  Outcome outcome = RunSteps(platform, root, steps);
  if (Failed(outcome)) {
    return outcome;
  }
  if (platform.WriteValue(root, kJobKey, L"Done", DwordData(1)) !=
          Status::kOk ||
      platform.Flush(root, kJobKey) != Status::kOk) {
    if (!UndoSteps(steps, steps.size()) || !DeleteRecord(platform, root)) {
      return Refusal(kExitFailed, L"not_undone", record.folder);
    }
    return Refusal(kExitFailed, L"not_registered", kJobKey);
  }
  return {};
}

bool Finish(Platform& platform, Root root, const Record& record) {
  const bool finished = record.kind == JobKind::kInstall
                            ? FinishInstall(platform, record)
                            : FinishUninstall(platform, record);
  if (record.registers) {
    platform.NotifyAssociationsChanged();
  }
  return finished && DeleteRecord(platform, root);
}

}  // namespace

std::optional<Root> Owner(Platform& platform, const std::wstring& folder) {
  for (const Root root : {Root::kMachine, Root::kUser}) {
    const std::optional<Installation> installed =
        ReadInstallation(platform, root);
    if (installed && SameName(installed->folder, folder)) {
      return root;
    }
  }
  return std::nullopt;
}

Outcome Recover(Platform& platform, Root root) {
  Record record;
  switch (ReadRecord(platform, root, &record)) {
    case Found::kNone:
      return {};
    case Found::kNewer:
      return Refusal(kExitFailed, L"newer_job");
    case Found::kRecord:
      break;
  }
  if (ReadDone(platform, root)) {
    return Finish(platform, root, record)
               ? Outcome{}
               : Refusal(kExitFailed, L"not_finished", record.folder);
  }
  const std::vector<Step> steps = StepsOf(platform, root, record, nullptr);
  if (!UndoSteps(steps, steps.size()) || !DeleteRecord(platform, root)) {
    return Refusal(kExitFailed, L"not_undone", record.folder);
  }
  return {};
}

Outcome Install(Platform& platform, const InstallJob& job) {
  const Root root = job.root;
  std::optional<Installation> installed = ReadInstallation(platform, root);
  std::vector<std::wstring> files = OwnPaths(job.folder, 0);
  if (installed && !SameName(installed->folder, job.folder)) {
    const std::vector<std::wstring> more = OwnPaths(installed->folder, 0);
    files.insert(files.end(), more.begin(), more.end());
  }
  if (auto refusal = WaitUntilFree(platform, files, job.waitMilliseconds)) {
    return *refusal;
  }
  if (Outcome recovered = Recover(platform, root); Failed(recovered)) {
    return recovered;
  }
  installed = ReadInstallation(platform, root);
  const std::wstring previous = installed ? installed->folder : L"";
  // Files with this product's names in a folder that is not its
  // installation are another program's, unless they hold exactly what this
  // setup puts there (left by a job whose record was lost).
  if (!SameName(previous, job.folder)) {
    for (std::size_t n = 0; n < kFileCount; ++n) {
      const std::wstring path = Join(job.folder, kOwnFiles[n]);
      if (platform.Facts(path).exists &&
          !platform.SameBytes(path, Join(job.payload, Decimal(n)))) {
        return Refusal(kExitForeign, L"foreign", path);
      }
    }
  }
  for (const std::wstring& folder : {job.folder, previous}) {
    if (folder.empty()) {
      continue;
    }
    if (const auto link = LinkInside(platform, folder)) {
      return Refusal(kExitFailed, L"link", *link);
    }
  }
  if (auto refusal = ClearStaleJournal(platform, job.folder)) {
    return *refusal;
  }
  const Record record = Snapshot(platform, root, JobKind::kInstall, job.folder,
                                 previous, true);
  Outcome outcome = RunJob(platform, root, record, &job);
  if (!Failed(outcome)) {
    Finish(platform, root, record);
  }
  return outcome;
}

Outcome Uninstall(Platform& platform, const UninstallJob& job, Root* journal) {
  std::optional<Root> owner = Owner(platform, job.folder);
  if (owner == Root::kMachine && !job.admin) {
    return Refusal(kExitElevation, L"elevation");
  }
  *journal = owner.value_or(Root::kUser);
  const std::vector<std::wstring> files = OwnPaths(job.folder, 1);
  if (auto refusal = WaitUntilFree(platform, files, job.waitMilliseconds)) {
    return *refusal;
  }
  if (Outcome recovered = Recover(platform, *journal); Failed(recovered)) {
    return recovered;
  }
  // An undone job may have changed what is registered where.
  owner = Owner(platform, job.folder);
  *journal = owner.value_or(Root::kUser);
  const bool holdsFiles =
      std::any_of(files.begin(), files.end(), [&](const std::wstring& path) {
        return platform.Facts(path).exists;
      });
  if (!owner && !holdsFiles) {
    return Refusal(kExitBadFolder, L"not_installed", job.folder);
  }
  if (const auto link = LinkInside(platform, job.folder)) {
    return Refusal(kExitFailed, L"link", *link);
  }
  if (auto refusal = ClearStaleJournal(platform, job.folder)) {
    return *refusal;
  }
  const Record record = Snapshot(platform, *journal, JobKind::kUninstall,
                                 job.folder, L"", owner.has_value());
  return RunJob(platform, *journal, record, nullptr);
}

bool FinishJob(Platform& platform, Root root) {
  Record record;
  if (ReadRecord(platform, root, &record) != Found::kRecord ||
      !ReadDone(platform, root)) {
    return false;
  }
  return Finish(platform, root, record);
}

}  // namespace setup
