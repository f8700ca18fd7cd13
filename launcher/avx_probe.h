// Decides whether the AVX build of the application library can run: the
// processor must have AVX and the operating system must save and restore the
// AVX register state.
#pragma once

#include <cstdint>

namespace launcher {

inline constexpr std::uint32_t kCpuidOsxsave = 1U << 27;  // XGETBV is enabled
inline constexpr std::uint32_t kCpuidAvx = 1U << 28;
inline constexpr std::uint64_t kXcr0SseAndAvxState = 0x6;  // XMM and upper YMM

// The decision from CPUID leaf 1's ECX and XCR0. readXcr0 is called only when
// ECX says OSXSAVE and AVX are both present: without OSXSAVE, XGETBV faults.
template <typename ReadXcr0>
int AvxUsableFrom(std::uint32_t cpuid1Ecx, ReadXcr0 readXcr0) {
  constexpr std::uint32_t required = kCpuidOsxsave | kCpuidAvx;
  if ((cpuid1Ecx & required) != required) {
    return 0;
  }
  const std::uint64_t xcr0 = readXcr0();
  return (xcr0 & kXcr0SseAndAvxState) == kXcr0SseAndAvxState ? 1 : 0;
}

// Runs CPUID and, where allowed, XGETBV on this processor. 1 or 0.
int IsAvxUsable();

}  // namespace launcher
