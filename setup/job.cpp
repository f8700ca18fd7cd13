#include "job.h"

#include <algorithm>
#include <vector>

#include "folder.h"
#include "product.h"
#include "record.h"
#include "steps.h"
#include "text.h"

namespace setup {
namespace {

constexpr std::uint32_t kRegBinary = 3;
constexpr int kPollMilliseconds = 500;

bool Failed(const Outcome& outcome) { return outcome.code != kExitDone; }

std::wstring Parent(const std::wstring& path) {
  return path.substr(0, path.rfind(L'\\'));
}

std::vector<std::wstring> OwnPaths(const std::wstring& folder,
                                   std::size_t first) {
  std::vector<std::wstring> paths;
  for (std::size_t n = first; n < kOwnFiles.size(); ++n) {
    paths.push_back(Join(folder, kOwnFiles.at(n)));
  }
  return paths;
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

// What a job may change in the registry and the shell folders, as it is.
void SnapshotRegistration(Platform& platform, Root root, Record* record) {
  for (const ValueName& value : OwnValues()) {
    record->values.push_back({value.key, value.name,
                              platform.ReadValue(root, value.key, value.name)});
  }
  for (const std::wstring& key : RecordedKeys()) {
    record->keys.push_back({key, platform.KeyExists(root, key)});
  }
  for (const ShellFolder which : kShortcuts) {
    record->shortcuts.push_back(
        platform.ReadBytes(ShortcutPath(platform, root, which)));
  }
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
    record.files.push_back({facts.exists && !facts.folder, facts.attributes});
  }
  const std::size_t drive = PathRoot(folder).size();
  for (std::wstring path = folder;
       path.size() > drive + 1 && !platform.Facts(path).exists;
       path = Parent(path)) {
    ++record.madeLevels;
  }
  for (std::size_t i = 0; i < kOwnFolders.size(); ++i) {
    if (!platform.Facts(Join(folder, kOwnFolders.at(i))).exists) {
      record.madeFolders |= 1U << i;
    }
  }
  if (registers) {
    SnapshotRegistration(platform, root, &record);
  }
  return record;
}

Status WriteRecord(Platform& platform, Root root, const Record& record) {
  const Status status = platform.WriteValue(root, kJobKey, L"Record",
                                            {kRegBinary, EncodeRecord(record)});
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
    if (!steps.at(i).undo()) {
      return false;
    }
  }
  return true;
}

// Runs the steps; when one fails, undoes them all and removes the record.
Outcome RunSteps(Platform& platform, Root root,
                 const std::vector<Step>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    Outcome outcome = steps.at(i).perform();
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

// The installation's own folders, deepest first, and the folder itself,
// where nothing else is in them.
bool RemoveOwnFolders(Platform& platform, const std::wstring& folder) {
  bool removed = true;
  for (std::size_t i = kOwnFolders.size(); i-- > 0;) {
    removed = Cleared(platform.RemoveFolder(Join(folder, kOwnFolders.at(i)))) &&
              removed;
  }
  return Cleared(platform.RemoveFolder(folder)) && removed;
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
  return RemoveOwnFolders(platform, folder) && emptied;
}

// Deletes what the job left in its journal folder with the suffixes, and
// the folder.
bool EmptyJournal(Platform& platform, const std::wstring& folder,
                  std::initializer_list<const wchar_t*> suffixes) {
  bool emptied = true;
  for (std::size_t n = 0; n < kOwnFiles.size(); ++n) {
    for (const wchar_t* suffix : suffixes) {
      emptied =
          Gone(platform.Delete(JournalFile(folder, n, suffix))) && emptied;
    }
  }
  return Gone(platform.RemoveFolder(JournalOf(folder))) && emptied;
}

bool FinishInstall(Platform& platform, const Record& record) {
  const std::wstring& folder = record.folder;
  if (!Inside(platform, folder, kJournalFolder)) {
    return false;
  }
  bool finished = EmptyJournal(platform, folder, {L".old", L".new"});
  if (!record.previous.empty() && !SameName(record.previous, folder)) {
    finished = EmptyOldFolder(platform, record.previous) && finished;
  }
  return finished;
}

// Everything an uninstall leaves, or, while the uninstaller's original
// process still holds its file, all but that file and the folder.
bool FinishUninstall(Platform& platform, const Record& record,
                     bool withUninstaller) {
  const std::wstring& folder = record.folder;
  if (LinkInside(platform, folder)) {
    return false;
  }
  bool finished = EmptyJournal(platform, folder, {L".gone"});
  if (withUninstaller) {
    finished =
        DeleteOwnFile(platform, Join(folder, kOwnFiles.at(kUninstaller))) &&
        finished;
  }
  return RemoveOwnFolders(platform, folder) && finished;
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

// Whether a name in the journal folder is one this engine or its earlier
// versions make.
bool IsJournalName(const std::wstring& name) {
  for (const wchar_t* fixed :
       {L"job.ini", L"job.tmp", L"swap", L"register", L"done"}) {
    if (SameName(name, fixed)) {
      return true;
    }
  }
  for (std::size_t n = 0; n < kOwnFiles.size(); ++n) {
    for (const wchar_t* suffix :
         {L".new", L".old", L".gone", L".on", L".tmp"}) {
      if (SameName(name, Decimal(n) + suffix)) {
        return true;
      }
    }
  }
  return false;
}

// Clears the journal folder of what an earlier job left without a record
// (the record lost with the registry, as when Wine's server is killed).
// Refuses, deleting nothing, when it holds anything else.
std::optional<Outcome> ClearStaleJournal(Platform& platform,
                                         const std::wstring& folder) {
  const std::wstring journal = JournalOf(folder);
  const FileFacts facts = platform.Facts(journal);
  if (!facts.exists) {
    return std::nullopt;
  }
  const std::vector<std::wstring> names = facts.folder && !facts.link
                                              ? platform.Names(journal)
                                              : std::vector<std::wstring>{};
  const auto refusal = Refusal(kExitFailed, L"journal_in_the_way", journal);
  if (!facts.folder || facts.link ||
      !std::all_of(names.begin(), names.end(), IsJournalName)) {
    return refusal;
  }
  for (const std::wstring& name : names) {
    const std::wstring path = Join(journal, name);
    if (platform.Facts(path).folder || !Gone(platform.Delete(path))) {
      return refusal;
    }
  }
  if (!Gone(platform.RemoveFolder(journal))) {
    return refusal;
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
                            : FinishUninstall(platform, record, true);
  if (record.registers) {
    platform.NotifyAssociationsChanged();
  }
  return finished && DeleteRecord(platform, root);
}

// Files with this product's names in a folder that is not its installation
// are another program's, unless they hold exactly what this setup puts
// there (left by a job whose record was lost).
std::optional<Outcome> ForeignFile(Platform& platform, const InstallJob& job) {
  for (std::size_t n = 0; n < kOwnFiles.size(); ++n) {
    const std::wstring path = Join(job.folder, kOwnFiles.at(n));
    if (platform.Facts(path).exists &&
        !platform.SameBytes(path, Join(job.payload, Decimal(n)))) {
      return Refusal(kExitForeign, L"foreign", path);
    }
  }
  return std::nullopt;
}

// What keeps the job from starting, in the order the installer refuses:
// files in use, an interrupted job that cannot be undone, another
// program's files, links, a journal folder in the way.
std::optional<Outcome> InstallRefusal(Platform& platform, const InstallJob& job,
                                      std::wstring* previous) {
  std::optional<Installation> installed = ReadInstallation(platform, job.root);
  std::vector<std::wstring> files = OwnPaths(job.folder, 0);
  if (installed && !SameName(installed->folder, job.folder)) {
    const std::vector<std::wstring> more = OwnPaths(installed->folder, 0);
    files.insert(files.end(), more.begin(), more.end());
  }
  if (auto refusal = WaitUntilFree(platform, files, job.waitMilliseconds)) {
    return refusal;
  }
  if (Outcome recovered = Recover(platform, job.root); Failed(recovered)) {
    return recovered;
  }
  installed = ReadInstallation(platform, job.root);
  *previous = installed ? installed->folder : L"";
  if (!SameName(*previous, job.folder)) {
    if (auto refusal = ForeignFile(platform, job)) {
      return refusal;
    }
  }
  for (const std::wstring& folder : {job.folder, *previous}) {
    const auto link =
        folder.empty() ? std::nullopt : LinkInside(platform, folder);
    if (link) {
      return Refusal(kExitFailed, L"link", *link);
    }
  }
  return ClearStaleJournal(platform, job.folder);
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
  std::wstring previous;
  if (auto refusal = InstallRefusal(platform, job, &previous)) {
    return *refusal;
  }
  const Record record = Snapshot(platform, job.root, JobKind::kInstall,
                                 job.folder, previous, true);
  Outcome outcome = RunJob(platform, job.root, record, &job);
  if (!Failed(outcome)) {
    Finish(platform, job.root, record);
  }
  return outcome;
}

Outcome Uninstall(Platform& platform, const UninstallJob& job, Root* journal) {
  std::optional<Root> owner = Owner(platform, job.folder);
  if (owner == Root::kMachine && !job.admin) {
    return Refusal(kExitElevation, L"elevation");
  }
  // The rest of an uninstall of this folder whose uninstaller could not be
  // deleted: done once this one's original has ended.
  if (const auto pending = PendingUninstall(platform, job.folder, job.admin)) {
    *journal = *pending;
    return {};
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
  if (const auto link = LinkInside(platform, job.folder)) {
    return Refusal(kExitFailed, L"link", *link);
  }
  Record record = Snapshot(platform, *journal, JobKind::kUninstall, job.folder,
                           L"", owner.has_value());
  if (!owner) {
    // A copy no scope registers: only the files of this version are its.
    for (std::size_t n = kUninstaller + 1; n < record.files.size(); ++n) {
      record.files.at(n).existed =
          record.files.at(n).existed && n < job.digests.size() &&
          platform.Digest(Join(job.folder, kOwnFiles.at(n))) ==
              job.digests.at(n);
    }
    // Nothing of it: no installation, unless a job of its own left its
    // journal (the record lost with Wine's registry, say).
    if (std::none_of(record.files.begin() + 1, record.files.end(),
                     [](const SavedFile& file) { return file.existed; }) &&
        !platform.Facts(JournalOf(job.folder)).exists) {
      return Refusal(kExitBadFolder, L"not_installed", job.folder);
    }
  }
  if (auto refusal = ClearStaleJournal(platform, job.folder)) {
    return *refusal;
  }
  Outcome outcome = RunJob(platform, *journal, record, nullptr);
  if (!Failed(outcome)) {
    FinishUninstall(platform, record, false);
  }
  return outcome;
}

std::optional<Root> PendingUninstall(Platform& platform,
                                     const std::wstring& folder, bool admin) {
  for (const Root root : {Root::kMachine, Root::kUser}) {
    Record record;
    if ((root == Root::kUser || admin) &&
        ReadRecord(platform, root, &record) == Found::kRecord &&
        record.kind == JobKind::kUninstall && ReadDone(platform, root) &&
        SameName(record.folder, folder)) {
      return root;
    }
  }
  return std::nullopt;
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
