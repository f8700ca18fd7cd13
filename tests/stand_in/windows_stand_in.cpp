#include "windows_stand_in.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

// The module handle the stand-in hands out; never dereferenced.
HMODULE const kModule = reinterpret_cast<HMODULE>(std::uintptr_t{0x10000});

std::wstring Widen(const char* text) {
  return {text, text + std::strlen(text)};
}

// AppEntryPoint as the launcher calls it, behind the loader's FARPROC type.
void EntryTrampoline(wchar_t** argv, int argc, int useAvx) {
  StandIn().calls.push_back(L"entry");
  if (StandIn().entry) {
    StandIn().entry(argv, argc, useAvx);
  }
}

}  // namespace

StandInState& StandIn() {
  static StandInState state;
  return state;
}

void ResetStandIn() { StandIn() = StandInState{}; }

// Behaves like the real call: the path cut to size - 1 characters plus a
// terminator, and the return value size, when the buffer is too small.
DWORD GetModuleFileNameW(HMODULE /*module*/, wchar_t* buffer, DWORD size) {
  StandInState& state = StandIn();
  state.calls.push_back(L"GetModuleFileNameW");
  state.moduleFileNameSizes.push_back(size);
  if (state.moduleFileNameFails || size == 0) {
    return 0;
  }
  const std::size_t length = state.modulePath.size();
  if (length < size) {
    std::wmemcpy(buffer, state.modulePath.c_str(), length + 1);
    return static_cast<DWORD>(length);
  }
  std::wmemcpy(buffer, state.modulePath.c_str(), size - 1);
  buffer[size - 1] = L'\0';
  return size;
}

BOOL SetDllDirectoryW(const wchar_t* path) {
  StandIn().calls.push_back(L"SetDllDirectoryW(" + std::wstring(path) + L")");
  return 1;
}

HMODULE LoadLibraryW(const wchar_t* path) {
  StandIn().calls.push_back(L"LoadLibraryW(" + std::wstring(path) + L")");
  return StandIn().loadSucceeds ? kModule : nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  StandInState& state = StandIn();
  state.calls.push_back(L"GetProcAddress(" + Widen(name) + L")");
  const bool exported = std::find(state.exports.begin(), state.exports.end(),
                                  name) != state.exports.end();
  if (module != kModule || !exported) {
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(
      reinterpret_cast<void (*)()>(&EntryTrampoline));
}

BOOL FreeLibrary(HMODULE module) {
  StandIn().calls.push_back(module == kModule ? L"FreeLibrary"
                                              : L"FreeLibrary(?)");
  return 1;
}

HRESULT CoInitialize(void* /*reserved*/) {
  StandIn().calls.push_back(L"CoInitialize");
  return StandIn().coInitializeResult;
}

void CoUninitialize() { StandIn().calls.push_back(L"CoUninitialize"); }
