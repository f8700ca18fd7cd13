// The least a launcher of the application library can do: load it from the
// Library folder beside the executable, open COM, call the entry point with
// the arguments, unload. No switches, no probe, no checks. The benchmark
// measures the real launcher against this.
#include <objbase.h>
#include <windows.h>

#include <cwchar>

using AppEntryPoint = void (*)(wchar_t**, int, int);

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/,
                    PWSTR /*commandLine*/, int /*show*/) {
  wchar_t path[4096];
  const DWORD length = GetModuleFileNameW(nullptr, path, 4096);
  wchar_t* cut = std::wcsrchr(path, L'\\');
  if (length == 0 || length >= 4096 - 32 || cut == nullptr) {
    return 1;
  }
  std::wcscpy(cut, L"\\Library\\TOLVARIN64.dll");
  HMODULE module = LoadLibraryW(path);
  if (module == nullptr) {
    return 1;
  }
  CoInitialize(nullptr);
  const FARPROC proc = GetProcAddress(module, "StartKorvadine");
  if (proc != nullptr) {
    reinterpret_cast<AppEntryPoint>(reinterpret_cast<void (*)()>(proc))(
        __wargv, __argc, 0);
  }
  FreeLibrary(module);
  CoUninitialize();
  return 0;
}
