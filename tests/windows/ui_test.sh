#!/bin/sh
# ui_test.sh WINE_RUN STATE_DIR PROGRAM SHOT_DIR: ui_host under Wine with real windows,
# on a virtual X display when there is none; screenshots it asks for go to SHOT_DIR.
# A Wine prefix of its own (STATE_DIR-ui), restarted: Wine's desktop keeps its first display.
set -u
run=$1 state=$2-ui program=$3 shots=$4
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "ui_test: skipped, no DISPLAY and no xvfb-run"; exit 77; }
  exec xvfb-run -a -s "-screen 0 800x600x24" sh "$0" "$@"
fi
mkdir -p "$shots" "$state/temp"
cp "$2/loader" "$state/" 2>/dev/null  # the target's Wine loader and server
server=$(sed -n 2p "$state/loader" 2>/dev/null); server=${server:-wineserver}
while sleep 0.1; do
  for request in "$state"/temp/shot-*; do
    [ -f "$request" ] || continue
    name=ui-${request##*/shot-}
    import -window root "$shots/$name.png" || xwd -root -silent >"$shots/$name.xwd"
    rm -f "$request"
  done
done &
trap 'kill $!; WINEPREFIX="$state/prefix" "$server" -k' EXIT
WINEPREFIX="$state/prefix" "$server" -k 2>/dev/null
# Without a window manager Wine draws frames and title bars only for unmanaged windows.
"$run" "$state" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
HALVEX_UI=windows HALVEX_UI_SHOTS='T:\' "$run" "$state" "$program"
