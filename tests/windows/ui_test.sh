#!/bin/sh
# Runs ui_host under Wine with real windows, on a virtual X display when
# there is none, and saves the screenshots it asks for in SHOT_DIR (PNG with
# ImageMagick, else xwd's own format).
#
#   ui_test.sh WINE_RUN STATE_DIR PROGRAM SHOT_DIR
#
# The test has a Wine prefix of its own (STATE_DIR-ui): Wine's desktop
# process keeps the display it was started with, and the other tests' prefix
# has one started without any. Its server is ended before and after, so each
# run's desktop is on that run's display.
set -u
run=$1 state=$2-ui program=$3 shots=$4

if [ -z "${DISPLAY:-}" ]; then
  if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "ui_test: skipped, no DISPLAY and no xvfb-run (scripts/setup.sh wine)"
    exit 77
  fi
  exec xvfb-run -a -s "-screen 0 800x600x24" sh "$0" "$@"
fi

mkdir -p "$shots" "$state/temp"
request="$state/temp/screenshot.request"
rm -f "$request"
while :; do
  if [ -f "$request" ]; then
    name=$(cat "$request")
    if command -v import >/dev/null 2>&1; then
      import -window root "$shots/ui-$name.png"
    else
      xwd -root -silent >"$shots/ui-$name.xwd"
    fi
    rm -f "$request"
  fi
  sleep 0.1
done &
recorder=$!
stop_wine() { WINEPREFIX="$state/prefix" wineserver -k 2>/dev/null || true; }
trap 'kill $recorder 2>/dev/null; stop_wine' EXIT
stop_wine
# Without a window manager on the virtual display, Wine draws the frames and
# title bars itself only when its windows are not "managed".
"$run" "$state" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null

HALVEX_UI=windows HALVEX_UI_SHOTS='T:\screenshot.request' "$run" "$state" "$program"
