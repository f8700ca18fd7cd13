#include "app_library.h"

#include <string_view>

#include "platform.h"
#include "tolvarin_app.h"

namespace launcher {
namespace {

constexpr std::string_view kBaseName = TOLVARIN_LIBRARY_BASE_NAME;

// The base name is single-byte text, and plain ASCII: it widens to the same
// characters in every ANSI code page, so a character-by-character widening is
// exact.
std::wstring Widen(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

AppEntryPoint FindEntryPoint(HMODULE module, const char* name) {
  const FARPROC proc = GetProcAddress(module, name);
  // FARPROC is the loader's generic function pointer; the export has the
  // AppEntryPoint signature. void (*)() converts to any function pointer type.
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  return reinterpret_cast<AppEntryPoint>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

std::wstring LibraryFileName(int useAvx) {
  return Widen(kBaseName) + Widen(useAvx == 1
                                      ? TOLVARIN_LIBRARY_SUFFIX_AVX
                                      : TOLVARIN_LIBRARY_SUFFIX_GENERIC);
}

const char* EntryPointName(int satellite) {
  return satellite == 1 ? TOLVARIN_ENTRY_SATELLITE : TOLVARIN_ENTRY_NORMAL;
}

int ExitCode(HandOff handOff) {
  switch (handOff) {
    case HandOff::kStarted:
      return 0;
    case HandOff::kNotLoaded:
      return 1;
    case HandOff::kNoEntryPoint:
      return 2;
  }
  return 1;
}

HandOff RunApplicationLibrary(const std::wstring& libraryFolder, int useAvx,
                              int satellite, wchar_t** argv, int argc) {
  const std::wstring libraryPath = libraryFolder + LibraryFileName(useAvx);
  HMODULE module = LoadLibraryW(libraryPath.c_str());
  if (module == nullptr) {
    return HandOff::kNotLoaded;
  }

  // S_FALSE means this thread already had a single-threaded apartment; that
  // call still counts and needs its CoUninitialize. Any failure (a library's
  // DllMain may have made the thread multithreaded) must not be paired.
  const HRESULT com = CoInitialize(nullptr);
  const bool comOpened = com == S_OK || com == S_FALSE;

  const AppEntryPoint entry = FindEntryPoint(module, EntryPointName(satellite));
  if (entry != nullptr) {
    entry(argv, argc, useAvx);
  }

  FreeLibrary(module);
  if (comOpened) {
    CoUninitialize();
  }
  return entry != nullptr ? HandOff::kStarted : HandOff::kNoEntryPoint;
}

}  // namespace launcher
