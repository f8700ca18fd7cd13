#include "startup.h"

#include <vector>

#include "app_library.h"
#include "avx_probe.h"
#include "platform.h"

namespace launcher {

std::wstring ExecutableDirectory(const std::wstring& modulePath) {
  const std::wstring::size_type lastBackslash = modulePath.rfind(L'\\');
  if (lastBackslash == std::wstring::npos) {
    return {};
  }
  return modulePath.substr(0, lastBackslash);
}

std::wstring DependencyFolder(const std::wstring& executableDirectory) {
  return executableDirectory + L"\\Library\\x64";
}

std::wstring LibraryFolder(const std::optional<std::wstring>& modulePath) {
  if (!modulePath) {
    return L".\\Library\\";
  }
  return ExecutableDirectory(*modulePath) + L"\\Library\\";
}

Switches ScanSwitches(const wchar_t* const* argv, int argc) {
  Switches switches;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument = argv[i];
    if (argument == L"/NOAVX") {
      switches.noAvx = 1;
    }
    if (argument == L"/SATELLITE") {
      switches.satellite = 1;
    }
  }
  return switches;
}

std::optional<std::wstring> ReadModulePath() {
  for (unsigned long size = kModulePathFirstTry; size <= kModulePathMost;
       size *= 2) {
    std::vector<wchar_t> buffer(size);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) {
      return std::nullopt;
    }
    // A length that fills the buffer means the path was cut short.
    if (length < size) {
      return std::wstring(buffer.data(), length);
    }
  }
  return std::nullopt;
}

int Launch(wchar_t** argv, int argc) {
  const std::optional<std::wstring> modulePath = ReadModulePath();
  if (modulePath) {
    const std::wstring dependencyFolder =
        DependencyFolder(ExecutableDirectory(*modulePath));
    SetDllDirectoryW(dependencyFolder.c_str());
  }

  const Switches switches = ScanSwitches(argv, argc);
  const int useAvx = ChooseAvx(switches.noAvx, IsAvxUsable);
  return ExitCode(RunApplicationLibrary(LibraryFolder(modulePath), useAvx,
                                        switches.satellite, argv, argc));
}

}  // namespace launcher
