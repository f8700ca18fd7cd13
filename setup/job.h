// The installer's and the uninstaller's job as a transaction.
//
// A job is a list of steps, each with a Do and an Undo. Before the first
// step changes anything, what every step may change is recorded as it was
// (setup/record.h) in the scope's registry and flushed. When a step fails,
// every step is undone in reverse order, from that record, and the record
// goes. A job interrupted by a kill or a power loss leaves its record, and
// the next setup or uninstall of the scope undoes it the same way before it
// does anything else. A job whose steps all succeeded is marked done in its
// record, which is the commit: the registration was flushed before, and
// what is left to do (backups and renamed-aside files deleted, the old
// folder of a move emptied) is finished by the next run if this one cannot.
//
// Every file the engine touches is one of the installation's own (by number)
// in the installation folder, or in the folder registered before it, and no
// name below either folder may be a link or a junction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "registration.h"

namespace setup {

struct Outcome {
  int code = 0;         // the installer's exit code (release/exit_codes.json)
  std::wstring reason;  // what the installer tells the user; empty: done
  std::wstring detail;  // the file or folder it concerns
};

struct InstallJob {
  Root root = Root::kMachine;
  std::wstring folder;  // canonical and checked (setup/folder.h)
  Choices choices;
  std::wstring version;
  std::uint32_t sizeKiB = 0;
  // A folder holding the new files, each named by its number.
  std::wstring payload;
  std::wstring shortcutDescription;
  std::uint32_t language = 0;  // the installer's, for the uninstaller
  int waitMilliseconds = 0;    // for files in use
};

struct UninstallJob {
  std::wstring folder;  // canonical
  bool admin = false;
  int waitMilliseconds = 0;
  // The SHA-256 of each file of this version, by number: in a folder no
  // scope registers, only files that match are the installation's.
  std::vector<std::string> digests;
};

// The scope whose registration names the folder.
std::optional<Root> Owner(Platform& platform, const std::wstring& folder);

// Undoes, or when it was done finishes, a job of the scope that was
// interrupted.
Outcome Recover(Platform& platform, Root root);

Outcome Install(Platform& platform, const InstallJob& job);

// Commits the uninstall and removes everything but the uninstaller's own
// file, which its original process holds while it waits for the verdict;
// *journal says in which scope's registry the job's record is. FinishJob
// removes the rest once that process has ended. The rest of an uninstall
// whose uninstaller could not be deleted then is done again.
Outcome Uninstall(Platform& platform, const UninstallJob& job, Root* journal);

// What is left of a committed job: backups, renamed-aside files, the old
// folder of a move, the uninstaller and the empty folders. False when
// something is still left; the record then stays for the next run.
bool FinishJob(Platform& platform, Root root);

// The scope whose record says an uninstall of the folder is done but for
// the uninstaller's own file, which could not be deleted then.
std::optional<Root> PendingUninstall(Platform& platform,
                                     const std::wstring& folder, bool admin);

}  // namespace setup
