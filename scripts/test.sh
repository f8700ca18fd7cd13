#!/usr/bin/env bash
# Builds everything and runs every test: host unit tests under AddressSanitizer
# and UBSan, the AVX probe on emulated processors, the executable image, the
# end-to-end suite under Wine (the launcher's suites also on the GCC build and
# on the build with the process mitigations), and the style and
# static-analysis checks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-debian.sh
jobs="$(nproc)"

cmake --preset host
cmake --build --preset host --parallel "$jobs"
ctest --preset host --parallel "$jobs"

cmake --preset windows
cmake --build --preset windows --parallel "$jobs"
ctest --preset windows

# The launcher's own suites again: through MinGW-w64 GCC and GNU ld, and
# with the process mitigations (and the sample's thumbnails there too).
for preset in windows-gcc windows-mitigations; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" --parallel "$jobs"
  ctest --preset "$preset"
done
