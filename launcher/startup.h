// The launcher's start-up: from the command line and the executable's own
// location to the hand-off to the application library.
#pragma once

#include <optional>
#include <string>

namespace launcher {

// The module path up to, not including, its last backslash. Forward slashes
// are not separators. Empty when there is no backslash or it stands first.
std::wstring ExecutableDirectory(const std::wstring& modulePath);

// executableDirectory + "\Library\x64": where the application library's own
// dependencies are looked up.
std::wstring DependencyFolder(const std::wstring& executableDirectory);

// executableDirectory + "\Library\", the folder both builds are loaded from.
// Without a module path, the relative ".\Library\".
std::wstring LibraryFolder(const std::optional<std::wstring>& modulePath);

struct Switches {
  int noAvx = 0;
  int satellite = 0;
};

// Whole-argument, case-sensitive matches of "/NOAVX" and "/SATELLITE" among
// argv[1] .. argv[argc - 1]. Argument 0 is the program name and is skipped.
Switches ScanSwitches(const wchar_t* const* argv, int argc);

// 0 when /NOAVX was given, without running the probe; the probe's verdict
// otherwise.
template <typename Probe>
int ChooseAvx(int noAvx, Probe probe) {
  return noAvx == 1 ? 0 : probe();
}

inline constexpr unsigned long kModulePathFirstTry = 4096;
inline constexpr unsigned long kModulePathMost = 32768;

// The executable's full path from GetModuleFileNameW, grown from 4,096 up to
// 32,768 characters while the path fills the buffer. Empty when it cannot be
// read whole.
std::optional<std::wstring> ReadModulePath();

// Everything wWinMain does: installs the dependency folder, reads the
// switches, chooses the build and hands over. Returns the exit status.
int Launch(wchar_t** argv, int argc);

}  // namespace launcher
