// Says which entry point of which build the launcher reached.
#include <cstdio>

#include "tolvarin_app.h"

namespace {

#ifdef __AVX__
constexpr char kBuild[] = "avx";
#else
constexpr char kBuild[] = "generic";
#endif

void Report(const char* entry, int argc, int useAvx) {
  std::printf("consumer %s %s argc=%d useAvx=%d\n", kBuild, entry, argc,
              useAvx);
  std::fflush(stdout);
}

}  // namespace

TOLVARIN_APP_EXPORT void StartKorvadine(wchar_t** /*argv*/, int argc,
                                        int useAvx) {
  Report(TOLVARIN_ENTRY_NORMAL, argc, useAvx);
}

TOLVARIN_APP_EXPORT void StartSatellite(wchar_t** /*argv*/, int argc,
                                        int useAvx) {
  Report(TOLVARIN_ENTRY_SATELLITE, argc, useAvx);
}
