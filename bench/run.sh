#!/usr/bin/env bash
# Start-up cost and footprint of the launcher against the least a launcher
# can do. Builds what it needs, then prints the figures:
#   bench/run.sh [pairs]        (default 40 pairs after a warm-up)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-debian.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --parallel "$(nproc)" >/dev/null
exec /usr/bin/python3 bench/bench.py build/windows "${1:-40}"
