// The switches of the installer and the uninstaller, read from the command
// line itself: NSIS drops a folder it cannot use, or changes it, and would
// install elsewhere.
#pragma once

#include <optional>
#include <string>

namespace setup {

struct Switches {
  // Longer than NSIS reads (1,023 characters): /D= may lie past that.
  bool tooLong = false;
  std::wstring scope;  // "all" (/AllUsers), "user" (/CurrentUser) or empty
  // /D=, last and unquoted, or as one quoted argument; the text after it
  // as given (empty: /D= with nothing after it).
  std::optional<std::wstring> folder;
  bool noAssociations = false;   // /NOASSOCIATIONS
  bool desktopShortcut = false;  // /DESKTOPSHORTCUT
  bool noCrashDumps = false;     // /NOCRASHDUMPS
  // /LANG=<language id>, as Windows numbers languages (1031 for German).
  unsigned long language = 0;
  // The uninstaller's: _?=<folder> of NSIS's uninstallers, last; and
  // /ORIGINAL=<process id> of the process its temporary copy reports to.
  std::optional<std::wstring> uninstallFolder;
  unsigned long original = 0;
};

// Switches are whole arguments, in any case; the program's own name is not
// one.
Switches ReadSwitches(const std::wstring& commandLine);

}  // namespace setup
