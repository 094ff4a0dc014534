#!/bin/sh
# Runs one program of the Windows build under Wine: the build's tests, test
# discovery and the cross-build checks all start programs through here.
#
#   wine-run.sh STATE_DIR PROGRAM [ARGS...]
#   wine-run.sh STATE_DIR          (only make the prefix)
#
# STATE_DIR holds a Wine prefix of the build's own, made on first use (under
# a lock, as ctest starts programs in parallel), so a run never touches the
# user's ~/.wine. The prefix maps T: to STATE_DIR/temp and makes T:\ the
# temporary folder: tests then build paths as short as the C:\... paths of the
# POSIX build, which the displayed-name checks rely on.
#
# STATE_DIR/loader, written when the build is configured, names Wine's loader
# and server for the build's target (32- or 64-bit); HALVEX_WINE and
# HALVEX_WINESERVER override it.
set -eu

mkdir -p "$1"
state=$(cd "$1" && pwd)  # Wine takes only an absolute prefix
shift

export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
# The library's real windows would wait for a click that never comes: tests
# get the console behaviour unless they ask for windows (HALVEX_UI=windows).
export HALVEX_UI="${HALVEX_UI:-console}"
# No Mono or Gecko installers: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

loader=wine server=wineserver
if [ -f "$state/loader" ]; then
  { read -r loader; read -r server; } <"$state/loader"
fi
wine=${HALVEX_WINE:-$loader}
wineserver=${HALVEX_WINESERVER:-$server}

init_prefix() {
  mkdir -p "$state/temp"
  "$wine" wineboot -i >/dev/null 2>&1
  ln -sfn "$state/temp" "$WINEPREFIX/dosdevices/t:"
  for name in TEMP TMP; do
    "$wine" reg add 'HKCU\Environment' /v "$name" /t REG_SZ /d 'T:\' /f >/dev/null 2>&1
  done
  # The registry is written to disk when the server ends.
  "$wineserver" -w
  touch "$state/ready"
}

if [ ! -f "$state/ready" ]; then
  (
    flock 9
    [ -f "$state/ready" ] || init_prefix
  ) 9>"$state/lock"
fi

[ $# -gt 0 ] || exit 0

# Keep the server up between the many short test programs; it ends by itself
# once no program has used it for a minute.
"$wineserver" -p60 >/dev/null 2>&1 || true

# The program's output goes through files: Wine's own background processes,
# started by whichever program comes first, inherit its standard handles and
# outlive it, and would hold ctest's pipes open until the server ends.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run-out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine-run-err.XXXXXX")
trap 'rm -f "$out" "$err"' EXIT
status=0
"$wine" "$@" >"$out" 2>"$err" || status=$?
# A test program that failed without a word never started (GoogleTest
# writes its filter or its list first): Wine lost it at its start, as it
# does now and then on a busy machine. Listing the tests, or running one
# that never began, is then tried again, twice at most; a failed listing
# would let ctest run nothing at all.
case " $* " in *" --gtest_list_tests "* | *" --gtest_filter="*)
  for _ in 1 2; do
    [ "$status" -ne 0 ] && [ ! -s "$out" ] && [ ! -s "$err" ] || break
    sleep 2
    status=0
    "$wine" "$@" >"$out" 2>"$err" || status=$?
  done ;;
esac
cat "$out"
cat "$err" >&2
exit "$status"
