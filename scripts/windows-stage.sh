#!/usr/bin/env bash
# The Windows stage of CI: the i686 DLL built and its exports checked, then
# the Windows tests under Wine, on the i686 build where this machine starts
# 32-bit programs and on the x86_64 build otherwise (HALVEX_WINE_ARCH=64
# forces the second way). The Linux build (build/default) must exist: the
# cross-build test reads files its crosscrypt writes.
#
#   scripts/windows-stage.sh
#
# Prints one line saying which way it went, and one with the count of tests.
set -euo pipefail
cd "$(dirname "$0")/.."

windows_start=$SECONDS
scripts/setup.sh wine

# halvex.dll exports Halvex undecorated and the three classes hosts use.
check_exports() {  # OBJDUMP DLL
  local exports
  exports=$("$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
  grep -qE '\] Halvex$' <<<"$exports" || { echo "$2: Halvex is not exported" >&2; exit 1; }
  for class in CFileList CCryptoFile CFESUtil; do
    grep -q "_ZN${#class}${class}" <<<"$exports" || { echo "$2: $class is not exported" >&2; exit 1; }
  done
}

# Which build runs the Windows tests is decided by trying: a tiny i686
# program under Wine's 32-bit loader, in the i686 build's own Wine prefix.
# Where it cannot start (a kernel without 32-bit support, no 32-bit Wine),
# the x86_64 build runs the same tests under Wine's 64-bit loader.
cmake --preset mingw >/dev/null
windows_target=x86_64
if [[ "${HALVEX_WINE_ARCH:-}" == 64 ]]; then
  why="forced by HALVEX_WINE_ARCH=64"
elif [[ ! -f build/mingw/wine/loader ]]; then
  why="no 32-bit Wine loader is installed"
else
  probe=build/mingw/wine-probe.exe
  printf 'int main(void) { return 7; }\n' | i686-w64-mingw32-gcc -x c - -o "$probe"
  probe_status=0
  timeout 300 tests/windows/wine-run.sh build/mingw/wine "$probe" >/dev/null 2>&1 || probe_status=$?
  if [[ $probe_status -eq 7 ]]; then
    windows_target=i686
    why="an i686 program ran under Wine"
  else
    why="an i686 program could not start under Wine (status $probe_status): this kernel or Wine runs no 32-bit programs"
  fi
fi
if [[ $windows_target == i686 ]]; then
  echo "Windows stage: the i686 build and its tests under 32-bit Wine ($why)"
  cmake --build --preset mingw
  check_exports i686-w64-mingw32-objdump build/mingw/bin/halvex.dll
  windows_preset=mingw
else
  echo "Windows stage: the i686 DLL built and its exports checked; the tests on the x86_64 build under 64-bit Wine ($why)"
  cmake --build --preset mingw --target halvex
  check_exports i686-w64-mingw32-objdump build/mingw/bin/halvex.dll
  scripts/setup.sh wine64
  cmake --preset mingw64 >/dev/null
  cmake --build --preset mingw64
  check_exports x86_64-w64-mingw32-objdump build/mingw64/bin/halvex.dll
  windows_preset=mingw64
fi
# The Windows tests under Wine, in a Wine prefix of the build's own
# (tests/windows/wine-run.sh); the cross-build test reads files the default
# preset's build wrote.
windows_log=$(mktemp)
status=0
ctest --preset "$windows_preset" 2>&1 | tee "$windows_log" || status=$?
windows_count=$(grep -oE 'tests failed out of [0-9]+' "$windows_log" | grep -oE '[0-9]+$' || echo 0)
rm -f "$windows_log"
[[ $status -eq 0 ]] || exit "$status"
echo "Windows tests ($windows_target build under Wine): $windows_count run, stage $((SECONDS - windows_start)) s"
