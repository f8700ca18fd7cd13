// An application library whose entry points return at once. With
// PROBE_RECORD set it records that it ran; with PROBE_BENCH set as well, also
// the time from its process's creation, and from the executable's first code,
// to the first thing its entry point does, and the modules loaded in the
// process at that moment.
#include <windows.h>
// windows.h first: tlhelp32.h relies on its types.
#include <tlhelp32.h>

#include <string>

#include "record.h"
#include "tolvarin_app.h"

namespace {

long long SinceProcessCreation(FILETIME now) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME time) {
    return static_cast<long long>(
        (static_cast<unsigned long long>(time.dwHighDateTime) << 32U) |
        time.dwLowDateTime);
  };
  return ticks(now) - ticks(created);
}

// Microseconds since the executable's own code first ran, when the
// benchmark's executables left the performance counter of that moment.
long long SinceExecutableStart(LARGE_INTEGER now) {
  wchar_t text[32];
  if (GetEnvironmentVariableW(L"BENCH_START_QPC", text, 32) == 0) {
    return -1;
  }
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  const long long start = _wtoi64(text);
  return (now.QuadPart - start) * 1000000 / frequency.QuadPart;
}

std::string Modules() {
  std::string list = "[";
  const HANDLE snapshot =
      CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  MODULEENTRY32W module{};
  module.dwSize = sizeof module;
  for (BOOL more = Module32FirstW(snapshot, &module); more != FALSE;
       more = Module32NextW(snapshot, &module)) {
    list += (list.size() > 1 ? "," : "") + probe::Json(module.szModule);
  }
  CloseHandle(snapshot);
  return list + "]";
}

void Entry(const char* name) {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  std::string line = "{\"event\":\"entry\",\"entry\":\"";
  line += name;
  line += "\"";
  if (GetEnvironmentVariableW(L"PROBE_BENCH", nullptr, 0) != 0) {
    line += ",\"sinceCreation100ns\":" + probe::Json(SinceProcessCreation(now));
    line +=
        ",\"sinceExeStartUs\":" + probe::Json(SinceExecutableStart(counter));
    line += ",\"modules\":" + Modules();
  }
  probe::Append(line + "}");
}

}  // namespace

TOLVARIN_APP_EXPORT void StartKorvadine(wchar_t** /*argv*/, int /*argc*/,
                                        int /*useAvx*/) {
  Entry("StartKorvadine");
}

TOLVARIN_APP_EXPORT void StartSatellite(wchar_t** /*argv*/, int /*argc*/,
                                        int /*useAvx*/) {
  Entry("StartSatellite");
}
