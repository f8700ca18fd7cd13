// Host stand-in for the Windows calls the launcher makes, spelt as the
// platform spells them. Each call is logged in order; tests set what the
// calls return through StandIn().
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using DWORD = std::uint32_t;
using BOOL = int;
using HRESULT = std::int32_t;
struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using FARPROC = std::intptr_t (*)();

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106);

DWORD GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD size);
BOOL SetDllDirectoryW(const wchar_t* path);
HMODULE LoadLibraryW(const wchar_t* path);
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

struct StandInState {
  // Behaviour.
  std::wstring modulePath = L"C:\\Program Files\\Tolvarin\\Tolvarin.exe";
  bool moduleFileNameFails = false;
  bool loadSucceeds = true;
  HRESULT coInitializeResult = S_OK;
  std::vector<std::string> exports = {"StartKorvadine", "StartSatellite"};
  // Called as the entry point, with what the launcher passed.
  std::function<void(wchar_t**, int, int)> entry;

  // Observations, in call order: "LoadLibraryW(<path>)", "CoInitialize", ...
  std::vector<std::wstring> calls;
  std::vector<DWORD> moduleFileNameSizes;
};

// The one stand-in state; ResetStandIn() gives each test a fresh one.
StandInState& StandIn();
void ResetStandIn();
