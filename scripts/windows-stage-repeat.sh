#!/usr/bin/env bash
# Runs the Windows stage N times in a row, each from fresh Windows build
# folders and a fresh Wine prefix (as every CI run starts), and says how
# many passed. HALVEX_WINE_ARCH=64 forces the x86_64 way, as in CI.
#
#   scripts/windows-stage-repeat.sh [N]      (default 3)
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3} passed=0
for i in $(seq 1 "$runs"); do
  rm -rf build/mingw build/mingw64
  if scripts/windows-stage.sh >"build/windows-stage-$i.log" 2>&1; then
    passed=$((passed + 1)); echo "run $i: passed ($(tail -1 "build/windows-stage-$i.log"))"
  else
    echo "run $i: FAILED (build/windows-stage-$i.log)"
  fi
done
echo "Windows stage: $passed of $runs runs passed"
[[ $passed -eq $runs ]]
