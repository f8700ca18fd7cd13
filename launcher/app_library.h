// Loads the chosen build of the application library and runs one of its entry
// points inside a COM single-threaded apartment.
#pragma once

#include <string>

namespace launcher {

enum class HandOff {
  kStarted,       // the entry point was called and has returned
  kNotLoaded,     // the library could not be loaded
  kNoEntryPoint,  // the library lacks the wanted entry point
};

// "TOLVARIN64avx.dll" when useAvx is 1, "TOLVARIN64.dll" when it is 0.
std::wstring LibraryFileName(int useAvx);

// "StartSatellite" when satellite is 1, "StartKorvadine" otherwise.
const char* EntryPointName(int satellite);

// The process exit status for the outcome of the hand-off: 0, 1 or 2.
int ExitCode(HandOff handOff);

// Loads libraryFolder + LibraryFileName(useAvx), opens COM, calls the entry
// point with (argv, argc, useAvx), unloads the library, closes COM. Returns
// at once, without touching COM, when the load fails. libraryFolder ends in a
// backslash.
HandOff RunApplicationLibrary(const std::wstring& libraryFolder, int useAvx,
                              int satellite, wchar_t** argv, int argc);

}  // namespace launcher
