// SetupEngine.dll: the job engine as an NSIS plugin, which the installer and
// the uninstaller carry. NSIS keeps the pages, the messages and the
// arguments; each function here takes its arguments from NSIS's stack and
// leaves its results there, the first to pop first:
//
//   Lock <ms>                   code (0, or 6 when another setup runs)
//   Switches                    too long (1 or empty), scope, folder given
//                               (1 or empty), folder, no associations,
//                               desktop shortcut, _?= given, _?= folder,
//                               original process id
//   Installed <all|user>        folder, version, Open with, desktop shortcut
//   Language <ids> <folder>     the language to speak, and whether a window
//                               offers the list (1 or empty): of the ids
//                               shipped, as the switch /LANG= names it, else
//                               the installation's (in the folder, or any),
//                               else the user's
//   ScopeProblem <scope> <admin>
//                               code, reason, folder, version
//   Folder <spelling> <scope>   canonical folder, code, reason, detail,
//                               ordinary users may write to it (1 or empty)
//   Install <scope> <folder> <open with> <desktop> <version> <KiB>
//           <payload> <ms> <description> <admin> <language>
//                               code, reason, detail, the folder or the
//                               version installed in the other scope
//   RunFromCopy <folder> <silent>
//                               code: the temporary copy's verdict
//   UninstallProblem <folder> <admin>
//                               code, reason, detail
//   Uninstall <folder> <admin> <original> <ms> <digests>
//                               code, reason, detail
//
// A code is an exit code of release/exit_codes.json, empty when there is
// nothing to refuse; a reason names the installer's message.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "command_line.h"
#include "folder.h"
#include "job.h"
#include "language.h"
#include "product.h"
#include "text.h"
#include "windows_platform.h"

namespace {

using setup::Root;

// NSIS's stack of strings (pluginapi.h).
struct NsisStack {
  NsisStack* next;
  wchar_t text[1];
};

class Stack {
 public:
  Stack(NsisStack** top, int size) : top_(top), size_(size) {}

  std::wstring Pop() {
    if (top_ == nullptr || *top_ == nullptr) {
      return {};
    }
    NsisStack* item = *top_;
    std::wstring text = item->text;
    *top_ = item->next;
    GlobalFree(item);
    return text;
  }

  // Pushes the results so that the first pops first.
  void Push(const std::vector<std::wstring>& results) {
    for (auto it = results.rbegin(); it != results.rend(); ++it) {
      PushOne(*it);
    }
  }

 private:
  void PushOne(const std::wstring& text) {
    if (top_ == nullptr) {
      return;
    }
    const std::size_t units = static_cast<std::size_t>(size_);
    auto* item = static_cast<NsisStack*>(
        GlobalAlloc(GPTR, sizeof(NsisStack) + units * sizeof(wchar_t)));
    if (item == nullptr) {
      return;
    }
    lstrcpynW(item->text, text.c_str(), size_);
    item->next = *top_;
    *top_ = item;
  }

  NsisStack** top_;
  int size_;
};

std::wstring Flag(bool value) { return value ? L"1" : L""; }

std::wstring Code(int code) {
  return code == setup::kExitDone ? L""
                                  : setup::Decimal(static_cast<unsigned>(code));
}

Root RootOf(const std::wstring& scope) {
  return scope == L"all" ? Root::kMachine : Root::kUser;
}

int Number(const std::wstring& text) {
  int number = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9' || number > 100000000) {
      return 0;
    }
    number = number * 10 + (c - L'0');
  }
  return number;
}

const wchar_t* FolderReason(setup::FolderProblem problem) {
  switch (problem) {
    case setup::FolderProblem::kNone:
      return L"";
    case setup::FolderProblem::kNotFullPath:
      return L"not_full_path";
    case setup::FolderProblem::kRoot:
      return L"root";
    case setup::FolderProblem::kNoDrive:
      return L"no_drive";
    case setup::FolderProblem::kBadName:
      return L"bad_name";
    case setup::FolderProblem::kDevice:
      return L"device";
    case setup::FolderProblem::kFile:
      return L"file";
    case setup::FolderProblem::kTooLong:
      return L"too_long";
  }
  return L"";
}

// What keeps the scope from being used: administrator rights, or an
// installation in the other scope.
setup::Outcome ScopeProblem(setup::Platform& platform, Root root, bool admin,
                            std::wstring* version) {
  if (root == Root::kMachine && !admin) {
    return {setup::kExitElevation, L"elevation", {}};
  }
  const Root other = root == Root::kMachine ? Root::kUser : Root::kMachine;
  if (const auto installed = setup::ReadInstallation(platform, other)) {
    *version = installed->version;
    return {setup::kExitOtherScope, L"other_scope", installed->folder};
  }
  return {};
}

// The folder as checked, and a folder of another program's files.
setup::Outcome CheckedFolder(setup::Platform& platform,
                             const std::wstring& spelling, Root root,
                             std::wstring* folder) {
  const setup::FolderCheck check = setup::CheckFolder(spelling, platform);
  *folder = check.folder;
  if (check.problem != setup::FolderProblem::kNone) {
    return {setup::kExitBadFolder, FolderReason(check.problem), check.detail};
  }
  const auto installed = setup::ReadInstallation(platform, root);
  if (installed && setup::SameName(installed->folder, check.folder)) {
    return {};
  }
  for (const wchar_t* name : setup::kOwnFiles) {
    const std::wstring path = check.folder + L"\\" + name;
    if (platform.Facts(path).exists) {
      return {setup::kExitForeign, L"foreign", path};
    }
  }
  return {};
}

std::vector<std::wstring> Results(const setup::Outcome& outcome) {
  return {Code(outcome.code), outcome.reason, outcome.detail};
}

std::wstring EventName(unsigned long process) {
  return std::wstring(L"Local\\") + setup::kProductName + L".Uninstall." +
         setup::Decimal(process);
}

// Earlier uninstallers' temporary copies, which Windows deletes only on
// restart where the account may ask for that: those no longer running go.
void DeleteEarlierCopies(const std::wstring& temporary) {
  WIN32_FIND_DATAW found{};
  const std::wstring pattern =
      temporary + setup::kProductName + L"-uninstall-*";
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    const std::wstring folder = temporary + found.cFileName;
    const std::wstring copy = folder + L"\\" + setup::kOwnFiles.at(0);
    if (DeleteFileW(copy.c_str()) != FALSE ||
        GetLastError() == ERROR_FILE_NOT_FOUND) {
      RemoveDirectoryW(folder.c_str());
    }
  } while (FindNextFileW(search, &found) != FALSE);
  FindClose(search);
}

// Copies this program into a new temporary folder; the copy's path.
std::wstring CopyOfSelf() {
  std::wstring self(MAX_PATH * 4, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(),
                                 static_cast<DWORD>(self.size())));
  std::wstring temporary(MAX_PATH + 1, L'\0');
  temporary.resize(GetTempPathW(MAX_PATH + 1, temporary.data()));
  DeleteEarlierCopies(temporary);
  for (unsigned attempt = GetTickCount(); !self.empty() && !temporary.empty();
       ++attempt) {
    const std::wstring folder = temporary + setup::kProductName +
                                L"-uninstall-" +
                                setup::Decimal(attempt % 1000000);
    if (CreateDirectoryW(folder.c_str(), nullptr) != FALSE) {
      const std::wstring copy = folder + L"\\" + setup::kOwnFiles.at(0);
      return CopyFileW(self.c_str(), copy.c_str(), TRUE) != FALSE ? copy : L"";
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  return {};
}

// Starts the copy and waits for its verdict: either it says the job is
// done, and goes on to delete this program's file once it has ended, or it
// ends without saying so, with its exit code.
int RunFromCopy(const std::wstring& folder, bool silent) {
  const std::wstring copy = CopyOfSelf();
  if (copy.empty()) {
    return setup::kExitFailed;
  }
  const unsigned long self = GetCurrentProcessId();
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, EventName(self).c_str());
  std::wstring line = L"\"" + copy + L"\"" + (silent ? L" /S" : L"") +
                      L" /ORIGINAL=" + setup::Decimal(self) + L" /D=" + folder;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (done == nullptr ||
      CreateProcessW(copy.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                     nullptr, nullptr, &startup, &process) == FALSE) {
    return setup::kExitFailed;
  }
  CloseHandle(process.hThread);
  const HANDLE waits[] = {done, process.hProcess};
  DWORD status = setup::kExitDone;
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 &&
      (GetExitCodeProcess(process.hProcess, &status) == FALSE ||
       status == setup::kExitDone)) {
    // Ended without saying it was done: killed (Wine gives a killed
    // process the exit code 0).
    status = setup::kExitFailed;
  }
  CloseHandle(process.hProcess);
  CloseHandle(done);
  return static_cast<int>(status);
}

// Tells the waiting original process that the job is done, and waits for it
// to end.
void ReleaseOriginal(unsigned long original, HANDLE process) {
  HANDLE done =
      OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName(original).c_str());
  if (done != nullptr) {
    SetEvent(done);
    CloseHandle(done);
  }
  if (process != nullptr) {
    WaitForSingleObject(process, 60000);
  }
}

// This temporary copy and its folder go when Windows next starts, where the
// account may ask for that.
void DeleteSelfLater() {
  std::wstring self(MAX_PATH * 4, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(),
                                 static_cast<DWORD>(self.size())));
  MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  const std::wstring folder = self.substr(0, self.rfind(L'\\'));
  MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

#define NSIS_FUNCTION(name)                                             \
  extern "C" __declspec(dllexport) void name(HWND /*parent*/, int size, \
                                             wchar_t* /*variables*/,    \
                                             NsisStack** top, void* /*extra*/)

NSIS_FUNCTION(Lock) {
  Stack stack(top, size);
  const int wait = Number(stack.Pop());
  const std::wstring name =
      std::wstring(L"Global\\") + setup::kProductName + L".Setup";
  // Kept for the life of the process: the lock is the process's.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD status =
      mutex == nullptr ? WAIT_FAILED
                       : WaitForSingleObject(mutex, static_cast<DWORD>(wait));
  // WAIT_ABANDONED: its owner ended without releasing it; it is ours now.
  if (status == WAIT_OBJECT_0 || status == WAIT_ABANDONED) {
    stack.Push({L""});
    return;
  }
  if (mutex != nullptr) {
    CloseHandle(mutex);
  }
  stack.Push({Code(setup::kExitBusy)});
}

NSIS_FUNCTION(Switches) {
  Stack stack(top, size);
  const setup::Switches switches = setup::ReadSwitches(GetCommandLineW());
  stack.Push({Flag(switches.tooLong), switches.scope,
              Flag(switches.folder.has_value()), switches.folder.value_or(L""),
              Flag(switches.noAssociations), Flag(switches.desktopShortcut),
              Flag(switches.uninstallFolder.has_value()),
              switches.uninstallFolder.value_or(L""),
              switches.original == 0 ? L"" : setup::Decimal(switches.original),
              Flag(switches.noCrashDumps)});
}

NSIS_FUNCTION(Installed) {
  Stack stack(top, size);
  setup::WindowsPlatform platform;
  const auto installed = setup::ReadInstallation(platform, RootOf(stack.Pop()));
  if (!installed) {
    stack.Push({L"", L"", L"", L"", L""});
    return;
  }
  stack.Push(
      {installed->folder, installed->version, Flag(installed->choices.openWith),
       Flag(installed->choices.desktop), Flag(installed->choices.crashDumps)});
}

NSIS_FUNCTION(Language) {
  Stack stack(top, size);
  std::vector<std::uint16_t> supported;
  const std::wstring ids = stack.Pop();
  for (std::size_t start = 0; start < ids.size();) {
    const std::size_t end = std::min(ids.find(L' ', start), ids.size());
    supported.push_back(
        static_cast<std::uint16_t>(Number(ids.substr(start, end - start))));
    start = end + 1;
  }
  const std::wstring folder = stack.Pop();
  setup::WindowsPlatform platform;
  std::uint32_t stored = 0;
  for (const Root root : {Root::kMachine, Root::kUser}) {
    const auto installed = setup::ReadInstallation(platform, root);
    if (installed && stored == 0 &&
        (folder.empty() || setup::SameName(installed->folder, folder))) {
      stored = installed->language;
    }
  }
  const setup::Switches switches = setup::ReadSwitches(GetCommandLineW());
  const setup::LanguageChoice choice =
      setup::ChooseLanguage(static_cast<std::uint16_t>(switches.language),
                            static_cast<std::uint16_t>(stored),
                            GetUserDefaultUILanguage(), supported);
  stack.Push({setup::Decimal(choice.language), Flag(choice.ask)});
}

NSIS_FUNCTION(ScopeProblem) {
  Stack stack(top, size);
  const Root root = RootOf(stack.Pop());
  const bool admin = stack.Pop() == L"1";
  setup::WindowsPlatform platform;
  std::wstring version;
  const setup::Outcome outcome = ScopeProblem(platform, root, admin, &version);
  stack.Push({Code(outcome.code), outcome.reason, outcome.detail, version});
}

NSIS_FUNCTION(Folder) {
  Stack stack(top, size);
  const std::wstring spelling = stack.Pop();
  const Root root = RootOf(stack.Pop());
  setup::WindowsPlatform platform;
  std::wstring folder;
  const setup::Outcome outcome =
      CheckedFolder(platform, spelling, root, &folder);
  const bool writable = root == Root::kMachine &&
                        platform.Facts(folder).folder &&
                        platform.WritableByUsers(folder);
  stack.Push({folder, Code(outcome.code), outcome.reason, outcome.detail,
              Flag(writable)});
}

NSIS_FUNCTION(Install) {
  Stack stack(top, size);
  setup::InstallJob job;
  job.root = RootOf(stack.Pop());
  const std::wstring spelling = stack.Pop();
  job.choices.openWith = stack.Pop() == L"1";
  job.choices.desktop = stack.Pop() == L"1";
  job.version = stack.Pop();
  job.sizeKiB = static_cast<std::uint32_t>(Number(stack.Pop()));
  job.payload = stack.Pop();
  job.waitMilliseconds = Number(stack.Pop());
  job.shortcutDescription = stack.Pop();
  const bool admin = stack.Pop() == L"1";
  job.language = static_cast<std::uint32_t>(Number(stack.Pop()));
  // Windows Error Reporting's settings are the machine's.
  job.choices.crashDumps = stack.Pop() == L"1" && job.root == Root::kMachine;
  setup::WindowsPlatform platform;
  std::wstring version;
  setup::Outcome outcome = ScopeProblem(platform, job.root, admin, &version);
  if (outcome.code == setup::kExitDone) {
    outcome = CheckedFolder(platform, spelling, job.root, &job.folder);
    // Files of a folder the setup itself left are checked by the job.
    if (outcome.code == setup::kExitForeign) {
      outcome = {};
    }
  }
  if (outcome.code == setup::kExitDone) {
    outcome = setup::Install(platform, job);
  }
  std::vector<std::wstring> results = Results(outcome);
  results.push_back(outcome.reason == L"other_scope" ? version : job.folder);
  stack.Push(results);
}

NSIS_FUNCTION(RunFromCopy) {
  Stack stack(top, size);
  const std::wstring folder = stack.Pop();
  const bool silent = stack.Pop() == L"1";
  stack.Push(
      {setup::Decimal(static_cast<unsigned>(RunFromCopy(folder, silent)))});
}

NSIS_FUNCTION(UninstallProblem) {
  Stack stack(top, size);
  const std::wstring folder = stack.Pop();
  const bool admin = stack.Pop() == L"1";
  setup::WindowsPlatform platform;
  setup::Outcome outcome;
  const auto owner = setup::Owner(platform, folder);
  if (owner == Root::kMachine && !admin) {
    outcome = {setup::kExitElevation, L"elevation", {}};
  } else if (!owner && !setup::PendingUninstall(platform, folder, admin)) {
    outcome = {setup::kExitBadFolder, L"not_installed", folder};
    for (std::size_t n = setup::kUninstaller + 1;
         n < std::size(setup::kOwnFiles); ++n) {
      if (platform.Facts(folder + L"\\" + setup::kOwnFiles.at(n)).exists) {
        outcome = {};
      }
    }
  }
  stack.Push(Results(outcome));
}

NSIS_FUNCTION(Uninstall) {
  Stack stack(top, size);
  setup::UninstallJob job;
  job.folder = stack.Pop();
  job.admin = stack.Pop() == L"1";
  const auto original = static_cast<unsigned long>(Number(stack.Pop()));
  job.waitMilliseconds = Number(stack.Pop());
  // The digests of files 1 and up, blank-separated; file 0 is this program.
  job.digests = {std::string()};
  const std::wstring digests = stack.Pop();
  for (std::size_t start = 0; start < digests.size();) {
    const std::size_t end = std::min(digests.find(L' ', start), digests.size());
    job.digests.emplace_back(digests.begin() + static_cast<long>(start),
                             digests.begin() + static_cast<long>(end));
    start = end + 1;
  }
  HANDLE process =
      original == 0 ? nullptr : OpenProcess(SYNCHRONIZE, FALSE, original);
  setup::WindowsPlatform platform;
  Root journal = Root::kUser;
  const setup::Outcome outcome = setup::Uninstall(platform, job, &journal);
  if (outcome.code == setup::kExitDone) {
    ReleaseOriginal(original, process);
    // Its file goes once the original has ended; another program that
    // holds it is waited for a while, else the next run takes it.
    for (int attempt = 0; attempt < 20 && !setup::FinishJob(platform, journal);
         ++attempt) {
      Sleep(500);
    }
    if (original != 0) {
      DeleteSelfLater();
    }
  }
  if (process != nullptr) {
    CloseHandle(process);
  }
  stack.Push(Results(outcome));
}
