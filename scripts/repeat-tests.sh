#!/usr/bin/env bash
# Runs the Windows part of the tests (ctest --preset windows) n times in a
# row, 20 by default, on the build that scripts/test.sh made, and counts the
# runs that failed; each run's output is kept in build/windows/repeat/. Not
# part of CI: it is how a flaky test is caught before CI catches it.
set -uo pipefail
cd "$(dirname "$0")/.."
runs="${1:-20}"
logs=build/windows/repeat
mkdir -p "$logs"
failed=0
for run in $(seq 1 "$runs"); do
  started=$(date +%s)
  if ctest --preset windows --verbose >"$logs/run-$run.log" 2>&1; then
    result=passed
  else
    result=FAILED
    failed=$((failed + 1))
  fi
  retries=$(grep -c "^wine: could not start" "$logs/run-$run.log")
  echo "run $run: $result in $(($(date +%s) - started)) s, $retries start(s) retried"
done
echo "$failed of $runs runs failed"
[ "$failed" -eq 0 ]
