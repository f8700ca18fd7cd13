#include "avx_probe.h"

#include <cpuid.h>

namespace launcher {
namespace {

std::uint32_t Cpuid1Ecx() {
  unsigned int eax = 0;
  unsigned int ebx = 0;
  unsigned int ecx = 0;
  unsigned int edx = 0;
  __cpuid_count(1, 0, eax, ebx, ecx, edx);
  return ecx;
}

std::uint64_t ReadXcr0() {
  std::uint32_t eax = 0;
  std::uint32_t edx = 0;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<std::uint64_t>(edx) << 32U) | eax;
}

}  // namespace

int IsAvxUsable() { return AvxUsableFrom(Cpuid1Ecx(), ReadXcr0); }

}  // namespace launcher
