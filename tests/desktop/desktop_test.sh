#!/usr/bin/env bash
# halvex-desktop's windows driven as a user would, on a virtual display:
# Cancel during a large file, the hidden-file question by a click and by the
# keyboard, Enter at an existing output, the error dialog's Retry and Skip,
# two passwords that differ, and no plugin at all.
# Usage: desktop_test.sh SCENARIO HALVEX_DESKTOP HALVEX PLUGIN SHOTS_FOLDER
# Screenshots go to SHOTS_FOLDER/desktop-*.png. 77: a tool is missing (skipped).
set -uo pipefail
scenario=$1 desktop=$2 halvex=$3 plugin=$4 shots=$5
for tool in xvfb-run xdotool import sha256sum; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
# Always a display of our own, never the developer's desktop.
if [[ -z ${HALVEX_TEST_ON_XVFB:-} ]]; then
  HALVEX_TEST_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
mkdir -p "$T/home" "$T/run" "$T/d" "$shots"
chmod 700 "$T/run"
export HOME=$T/home XDG_RUNTIME_DIR=$T/run HALVEX_DESKTOP_PLUGIN=$plugin ASAN_OPTIONS=detect_leaks=0
unset HALVEX_PASSWORD HALVEX_UI
failed=0
fail() { echo "FAIL $scenario: $*"; failed=1; }
sum() { sha256sum "$1" | cut -d' ' -f1; }

# The window named exactly $1, once it is shown (20 s at most).
window() {
  local id
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  fail "no window '$1'"
  return 1
}
# Waits until the window named $1 that was shown (or any, when none is given
# as $2) is shown no more, for $3 tenths of a second (100); false if it stays.
gone() {
  for _ in $(seq "${3:-100}"); do
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -qx "${2:-[0-9]*}" || return 0
    sleep 0.1
  done
  return 1
}
# Keys go to the window under the pointer (no window manager here): every
# window of ours opens centred, so the pointer waits in the middle.
keys() { xdotool mousemove 512 384 && sleep 0.3 && xdotool "$@"; }
# Clicks at a fraction of the window's width and pixels from its bottom.
click() {  # WINDOW X_FRACTION PIXELS_FROM_BOTTOM
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" "$(awk -v w="$WIDTH" -v f="$2" 'BEGIN { printf "%d", w * f }')" \
    $((HEIGHT - $3)) click 1
}
# Does what follows the window's name and id (a click or keys) until that
# window is gone, five times at most: a window just shown may not take a
# click or a key yet, most of all under the sanitizers.
until_gone() {  # WINDOW_NAME WINDOW ACTION...
  local name=$1 w=$2
  shift 2
  for _ in 1 2 3 4 5; do
    "$@"
    gone "$name" "$w" 20 && return 0
  done
  fail "window '$name' did not take: $*"
  return 1
}
shot() { import -window root "$shots/desktop-$1.png"; }
password() {  # TEXT [SCREENSHOT]
  local w
  w=$(window Halvex) || return
  keys type --delay 15 "$1"
  [[ -n ${2:-} ]] && shot "$2"
  until_gone Halvex "$w" keys key Return
}
start() { "$desktop" "$@" >"$T/log" 2>&1 & pid=$!; }
# Closes the summary window; status is the program's exit status.
finish() {  # ACTION
  local w
  w=$(window "Halvex $1") && until_gone "Halvex $1" "$w" keys key Return
  status=0
  for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && { fail "still running"; kill "$pid"; }
  wait "$pid" || status=$?
}

case $scenario in
  cancel)
    # Large enough that the click lands mid-file on a fast machine too: the
    # reader runs ahead of the cipher, and a warm file goes at memory speed.
    head -c 2000M /dev/zero >"$T/d/big.bin"
    before=$(sum "$T/d/big.bin")
    start encrypt "$T/d/big.bin"
    password secret-1 && password secret-1
    w=$(window Encrypting) && sleep 1.2 && shot progress && click "$w" 0.9 28
    finish encrypt
    [[ $status == 130 || $status == 1 ]] || fail "exit status $status, expected a cancel"
    [[ $(sum "$T/d/big.bin") == "$before" ]] || fail "the source changed"
    [[ $(ls -A "$T/d") == big.bin ]] || fail "left behind: $(ls -A "$T/d" | xargs)"
    grep -q "1 cancelled" "$T/log" || fail "no cancel in the summary: $(cat "$T/log")"
    ;;
  hidden_click | hidden_keyboard)
    echo plain >"$T/d/a.dat"
    echo secret >"$T/d/.h"
    start encrypt "$T/d"
    password pw-1 && password pw-1
    w=$(window "Hidden file")
    if [[ $scenario == hidden_click ]]; then
      shot question
      until_gone "Hidden file" "$w" click "$w" 0.3 26  # No, the second of five buttons in a row
      expected=".h a.dat.qelmenc" expected_status=1  # a file left as it was
    else
      until_gone "Hidden file" "$w" keys key Return  # Enter is Yes: the user chose to encrypt the folder
      expected=".h.qelmenc a.dat.qelmenc" expected_status=0
    fi
    finish encrypt
    [[ $(ls -A "$T/d" | sort | xargs) == "$expected" ]] || fail "found $(ls -A "$T/d" | xargs), expected $expected"
    [[ $scenario == hidden_keyboard || $(cat "$T/d/.h") == secret ]] || fail "the hidden file changed"
    [[ $status == "$expected_status" ]] || fail "exit status $status"
    ;;
  error_retry_skip)
    echo first >"$T/d/g1.dat"
    echo second >"$T/d/g2.dat"
    echo pw >"$T/pw"
    "$halvex" encrypt --password-file "$T/pw" "$T/d/g1.dat" "$T/d/g2.dat" >/dev/null 2>&1 || fail "setup"
    cp "$T/d/g1.dat.qelmenc" "$T/good1"
    for f in g1 g2; do  # a changed byte in the last chunk: the file no longer opens
      printf '\x55' | dd of="$T/d/$f.dat.qelmenc" bs=1 seek=$(($(stat -c %s "$T/d/$f.dat.qelmenc") - 20)) \
        conv=notrunc status=none
    done
    damaged2=$(sum "$T/d/g2.dat.qelmenc")
    start decrypt "$T/d/g1.dat.qelmenc" "$T/d/g2.dat.qelmenc"
    w=$(window "File error") && shot error
    cp "$T/good1" "$T/d/g1.dat.qelmenc"  # mended while the dialog waits
    until_gone "File error" "$w" keys key alt+r
    w=$(window "File error") && until_gone "File error" "$w" keys key alt+s
    finish decrypt
    [[ $(cat "$T/d/g1.dat" 2>/dev/null) == first ]] || fail "Retry did not decrypt the mended file"
    [[ $(sum "$T/d/g2.dat.qelmenc") == "$damaged2" && ! -e $T/d/g2.dat ]] || fail "Skip touched the damaged file"
    [[ $status == 1 ]] || fail "exit status $status, expected 1 (a file not done)"
    ;;
  password_mismatch)
    echo plain >"$T/d/a.txt"
    start encrypt "$T/d/a.txt"
    password one-password password && password another-one
    finish encrypt
    [[ $status == 2 ]] || fail "exit status $status"
    grep -q "the two passwords differ" "$T/log" || fail "no refusal: $(cat "$T/log")"
    [[ $(ls -A "$T/d") == a.txt && $(cat "$T/d/a.txt") == plain ]] || fail "the file was touched"
    ;;
  exists_enter)  # Enter never replaces a file
    echo old >"$T/d/a.dat"
    echo pw >"$T/pw"
    "$halvex" encrypt --password-file "$T/pw" "$T/d/a.dat" >/dev/null 2>&1 || fail "setup"
    echo newer >"$T/d/a.dat"
    start decrypt "$T/d/a.dat.qelmenc"
    w=$(window "File exists") && until_gone "File exists" "$w" keys key Return
    finish decrypt
    [[ $(cat "$T/d/a.dat") == newer && -e $T/d/a.dat.qelmenc ]] || fail "Enter replaced the file"
    ;;
  no_plugin)  # no toolkit: the command runs as ever, halvex-desktop touches nothing
    echo plain >"$T/d/a.dat"
    echo pw >"$T/pw"
    HALVEX_DESKTOP_PLUGIN=$T/none.so "$desktop" encrypt "$T/d/a.dat" >"$T/log" 2>&1
    status=$?
    [[ $status == 2 && $(ls -A "$T/d") == a.dat ]] || fail "halvex-desktop without its plugin: $status, $(ls -A "$T/d")"
    HALVEX_UI=window HALVEX_DESKTOP_PLUGIN=$T/none.so "$halvex" encrypt --password-file "$T/pw" "$T/d/a.dat" \
      </dev/null >"$T/log" 2>&1 || fail "the command without the plugin: $(cat "$T/log")"
    [[ $(ls -A "$T/d") == a.dat.qelmenc ]] || fail "the command did not encrypt: $(ls -A "$T/d")"
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
[[ $failed == 0 ]] && echo "PASS $scenario"
exit "$failed"
