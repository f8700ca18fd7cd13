// Prints the real probe's verdict, 0 or 1. With an expected value as its one
// argument it exits 0 only when the verdict matches, so that a test can run
// it on an emulated processor (qemu-x86_64 -cpu ...).
#include <cstdio>
#include <cstring>

#include "avx_probe.h"

int main(int argc, char** argv) {
  const int usable = launcher::IsAvxUsable();
  std::printf("%d\n", usable);
  if (argc == 2) {
    return std::strcmp(argv[1], usable == 1 ? "1" : "0") == 0 ? 0 : 1;
  }
  return 0;
}
