// Probe application library for the end-to-end tests. One source, built in
// several variants (see tests/CMakeLists.txt); every variant records what it
// sees: its own path, the arguments, the COM apartment, the DLL directory,
// the stack, and whether COM is still open when it is unloaded.
#include <objbase.h>
#include <windows.h>

#include <string>

#include "record.h"
#include "tolvarin_app.h"

#ifndef PROBE_EXPORT_NORMAL
#define PROBE_EXPORT_NORMAL 1
#endif
#ifndef PROBE_EXPORT_SATELLITE
#define PROBE_EXPORT_SATELLITE 1
#endif

#if PROBE_USES_DEPENDENCY
extern "C" __declspec(dllimport) const wchar_t* ProbeDependencyPath();
#endif

namespace {

HMODULE self = nullptr;

std::string Apartment() {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  const HRESULT result = CoGetApartmentType(&type, &qualifier);
  if (FAILED(result)) {
    return "{\"result\":" + probe::Json(static_cast<long long>(result)) +
           ",\"type\":null}";
  }
  return "{\"result\":0,\"type\":" + probe::Json(static_cast<long long>(type)) +
         "}";
}

std::string DllDirectory() {
  wchar_t directory[32768];
  const DWORD length = GetDllDirectoryW(32768, directory);
  if (length == 0 || length >= 32768) {
    return "\"\"";
  }
  return probe::Json(directory);
}

long long StackReserve() {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  return static_cast<long long>(high - low);
}

// A running application, for tests of what may not change under it: with
// PROBE_HOLD set, the entry point returns only once that file exists (a
// minute at most), holding the mutex named by PROBE_MUTEX, if any, till then.
void KeepRunning() {
  wchar_t release[1024];
  if (GetEnvironmentVariableW(L"PROBE_HOLD", release, 1024) == 0) {
    return;
  }
  wchar_t name[256];
  const HANDLE mutex = GetEnvironmentVariableW(L"PROBE_MUTEX", name, 256) != 0
                           ? CreateMutexW(nullptr, TRUE, name)
                           : nullptr;
  probe::Append("{\"event\":\"holding\"}");
  for (int i = 0;
       i < 600 && GetFileAttributesW(release) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(100);
  }
  if (mutex != nullptr) {
    CloseHandle(mutex);
  }
}

[[maybe_unused]] void Entry(const char* name, wchar_t** argv, int argc,
                            int useAvx) {
  std::string line = "{\"event\":\"entry\",\"entry\":\"";
  line += name;
  line += "\",\"useAvx\":" + probe::Json(useAvx);
  line += ",\"argc\":" + probe::Json(argc);
  line += ",\"argv\":[";
  for (int i = 0; i < argc; ++i) {
    line += (i == 0 ? "" : ",") + probe::Json(argv[i]);
  }
  line += "],\"argvTerminated\":";
  line += argv[argc] == nullptr ? "true" : "false";
#ifdef __AVX__
  line += ",\"avxBuild\":true";
#else
  line += ",\"avxBuild\":false";
#endif
  line += ",\"module\":" + probe::Json(probe::ModulePath(self).c_str());
  line += ",\"exe\":" + probe::Json(probe::ModulePath(nullptr).c_str());
  line += ",\"apartment\":" + Apartment();
  line += ",\"dllDirectory\":" + DllDirectory();
  line += ",\"stack\":" + probe::Json(StackReserve());
#if PROBE_USES_DEPENDENCY
  line += ",\"dependency\":" + probe::Json(ProbeDependencyPath());
#endif
#if PROBE_OWN_STA
  const HRESULT own = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  line += ",\"ownCoInitialize\":" + probe::Json(static_cast<long long>(own));
  if (SUCCEEDED(own)) {
    CoUninitialize();
  }
  line += ",\"apartmentAfterOwn\":" + Apartment();
#endif
  probe::Append(line + "}");
  KeepRunning();
}

}  // namespace

#if PROBE_EXPORT_NORMAL
TOLVARIN_APP_EXPORT void StartKorvadine(wchar_t** argv, int argc, int useAvx) {
  Entry("StartKorvadine", argv, argc, useAvx);
}
#endif

#if PROBE_EXPORT_SATELLITE
TOLVARIN_APP_EXPORT void StartSatellite(wchar_t** argv, int argc, int useAvx) {
  Entry("StartSatellite", argv, argc, useAvx);
}
#endif

#if !PROBE_EXPORT_NORMAL && !PROBE_EXPORT_SATELLITE
// A library must export something for the linker to make an export table.
extern "C" __declspec(dllexport) void ProbeUnrelatedExport() {}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    self = instance;
#if PROBE_PINNED
    // Stays loaded until the process ends, so that its detach record shows
    // the thread's COM state after everything the launcher did.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
        reinterpret_cast<LPCWSTR>(&DllMain), &pinned);
#endif
    std::string line = "{\"event\":\"attach\",\"module\":" +
                       probe::Json(probe::ModulePath(instance).c_str());
#if PROBE_MTA_IN_DLLMAIN
    const HRESULT mta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    line += ",\"mta\":" + probe::Json(static_cast<long long>(mta));
#endif
    probe::Append(line + "}");
#if PROBE_REFUSE_ATTACH
    return FALSE;
#endif
  } else if (reason == DLL_PROCESS_DETACH) {
    // reserved is null for FreeLibrary, non-null when the process ends.
    probe::Append(std::string("{\"event\":\"detach\",\"freeLibrary\":") +
                  (reserved == nullptr ? "true" : "false") +
                  ",\"apartment\":" + Apartment() + "}");
  }
  return TRUE;
}
