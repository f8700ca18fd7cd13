// A dependency of the probe application library, found through the DLL
// search. It tells which copy of itself was loaded.
#include <windows.h>

#include <string>

#include "record.h"

namespace {
std::wstring path;
}

extern "C" __declspec(dllexport) const wchar_t* ProbeDependencyPath() {
  return path.c_str();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    path = probe::ModulePath(instance);
  }
  return TRUE;
}
