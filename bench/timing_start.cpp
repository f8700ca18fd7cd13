// Linked into the benchmark's copies of the launcher and the reference:
// when the executable's own code first runs (static initialisation, before
// wWinMain), it leaves the performance counter in BENCH_START_QPC for the
// no-op application library to read at its entry point.
#include <windows.h>

namespace {

struct StampStart {
  StampStart() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    // Decimal digits by hand: printf would add to the reference's size.
    wchar_t text[32] = {};
    int first = 31;
    unsigned long long value = static_cast<unsigned long long>(now.QuadPart);
    do {
      text[--first] = static_cast<wchar_t>(L'0' + value % 10);
      value /= 10;
    } while (value != 0 && first > 0);
    SetEnvironmentVariableW(L"BENCH_START_QPC", &text[first]);
  }
};

const StampStart stamp;

}  // namespace
