#include "avx_probe.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace launcher {
namespace {

constexpr std::uint32_t kBoth = kCpuidOsxsave | kCpuidAvx;

// Answers XGETBV with a fixed XCR0 and counts how often it was asked.
struct FakeXgetbv {
  std::uint64_t xcr0;
  int* calls;
  std::uint64_t operator()() const {
    ++*calls;
    return xcr0;
  }
};

int Decide(std::uint32_t ecx, std::uint64_t xcr0, int* xgetbvCalls) {
  return AvxUsableFrom(ecx, FakeXgetbv{xcr0, xgetbvCalls});
}

TEST(AvxDecision, XgetbvRunsOnlyWhenOsxsaveAndAvxAreBothSet) {
  struct Case {
    std::uint32_t ecx;
    const char* what;
  };
  for (const Case& c :
       {Case{0, "neither"}, Case{kCpuidOsxsave, "OSXSAVE only"},
        Case{kCpuidAvx, "AVX only"}, Case{~kBoth, "every other bit"}}) {
    int calls = 0;
    EXPECT_EQ(Decide(c.ecx, 0x7, &calls), 0) << c.what;
    EXPECT_EQ(calls, 0) << c.what << ": XGETBV would fault here";
  }
  int calls = 0;
  EXPECT_EQ(Decide(kBoth, 0x7, &calls), 1);
  EXPECT_EQ(calls, 1);
}

TEST(AvxDecision, NeedsBothSseAndAvxStateInXcr0) {
  struct Case {
    std::uint64_t xcr0;
    int usable;
  };
  for (const Case& c :
       {Case{0x0, 0}, Case{0x1, 0}, Case{0x3, 0}, Case{0x5, 0}, Case{0x4, 0},
        Case{0x6, 1}, Case{0x7, 1}, Case{0xE7, 1}, Case{0x2E7, 1},
        Case{0xFFFFFFFF00000001ULL, 0}, Case{~std::uint64_t{0}, 1}}) {
    int calls = 0;
    EXPECT_EQ(Decide(kBoth, c.xcr0, &calls), c.usable)
        << "XCR0 = 0x" << std::hex << c.xcr0;
  }
}

TEST(AvxDecision, OtherCpuidBitsDoNotMatter) {
  int calls = 0;
  EXPECT_EQ(Decide(0xFFFFFFFFU, 0x7, &calls), 1);
  EXPECT_EQ(Decide(kBoth | 0x1, 0x7, &calls), 1);  // SSE3 and the rest
  EXPECT_EQ(Decide(~kCpuidAvx, 0x7, &calls), 0);
}

TEST(AvxProbe, AgreesWithTheCompilerRuntimeOnThisMachine) {
  __builtin_cpu_init();
  const int expected = __builtin_cpu_supports("avx") ? 1 : 0;
  EXPECT_EQ(IsAvxUsable(), expected);
}

}  // namespace
}  // namespace launcher
