#!/bin/sh
# The Windows self-extractor's window under Wine on a virtual X display:
# dialog_driver.exe types the password and presses OK, then Yes to the offer
# of a free name, since report.doc is already there: it must stay as it was,
# and the file come back as "report (1).doc". Screenshots go to SHOTS.
#   dialog_test.sh HALVEX DRIVER WINE_RUN WINE_STATE SHOTS
set -eu
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "skipped: no DISPLAY and no xvfb-run"; exit 77; }
  exec xvfb-run -a -s "-screen 0 640x400x24" sh "$0" "$@"
fi
halvex=$1 driver=$2 run=$3 state=$4 shots=$5
# Wine's desktop keeps the display it first met: a prefix restarted here.
server=$(sed -n 2p "$state/loader")
WINEPREFIX="$state/prefix" "$server" -k 2>/dev/null || true
work=$(mktemp -d)
trap 'kill $watcher 2>/dev/null; WINEPREFIX="$state/prefix" "$server" -k; rm -rf "$work"' EXIT
mkdir -p "$shots" "$work/req"
export HALVEX_CONFIG="$work/settings.ini" HALVEX_KEYSTORE="$work/key"
printf 'right horse\n' >"$work/pw"
head -c 5000000 /dev/urandom >"$work/report.doc"
(cd "$work" && "$halvex" copy --stub windows --password-file pw report.doc >/dev/null)
mkdir "$work/to" && mv "$work/report.doc.exe" "$work/to/" && echo mine >"$work/to/report.doc"
while sleep 0.2; do
  for request in "$work"/req/shot-*; do
    [ -f "$request" ] || continue
    import -window root "$shots/sfx-${request##*/shot-}.png"
    rm -f "$request"
  done
done &
watcher=$!
# Without a window manager Wine draws frames only for unmanaged windows.
"$run" "$state" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
cd "$work"
HALVEX_UI=windows "$run" "$state" "$driver" "to/report.doc.exe" "right horse" req
cmp "$work/to/report (1).doc" "$work/report.doc"
[ "$(cat "$work/to/report.doc")" = mine ]
[ "$(ls -A "$work/to" | wc -l)" = 3 ]  # no scratch folder left
echo "ok: restored through the window; screenshots in $shots"
