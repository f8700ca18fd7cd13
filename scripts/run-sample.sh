#!/usr/bin/env bash
# Builds the launcher and the sample application library, installs them into
# build/install and starts the launcher there under Wine. Arguments are passed
# to the launcher, e.g.  scripts/run-sample.sh /NOAVX "my photo.jpg"
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-debian.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --parallel "$(nproc)" >/dev/null
cmake --install build/windows >/dev/null

export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -e "$WINEPREFIX/.initialised" ]; then
  echo "Setting up the Wine prefix (once)..."
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$WINEPREFIX/wineboot.log" 2>&1
  echo "wineboot -i" >"$WINEPREFIX/.initialised"
fi

echo "build/install/Tolvarin.exe $*"
status=0
# Wine's output goes to a file: a wineserver that outlives the run would keep
# a pipe open.
log="build/windows/run-sample.log"
wine build/install/Tolvarin.exe "$@" >"$log" 2>&1 </dev/null || status=$?
cat "$log"
wineserver -k || true
echo "exit status: $status"
exit "$status"
