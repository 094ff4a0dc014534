#!/bin/sh
# Files cross between the builds: what the Linux build encrypts, the Windows
# build decrypts, and the reverse, with the same stored key (one key file
# shared by both) and with the password alone.
#
#   crossbuild.sh NATIVE_CROSSCRYPT WINDOWS_CROSSCRYPT WINE_RUN WINE_STATE
#
# Exit status 77 (skipped) when the Linux build has not been made.
set -eu

native=$1 windows=$2 wine_run=$3 state=$4

if [ ! -x "$native" ]; then
  echo "no Linux build of crosscrypt at $native: build the default preset first"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/halvex-cross-XXXXXX")
trap 'rm -rf "$work"' EXIT
unset HALVEX_DRIVES  # Z: is "/" in both builds

# The Windows form of a native path: Wine's Z: is "/".
win() { printf 'Z:%s' "$1" | tr / '\\'; }

on_linux() { HALVEX_KEYSTORE="$1" "$native" "$2" "$3" "$4" "$5"; }
on_windows() { HALVEX_KEYSTORE=$(win "$1") "$wine_run" "$state" "$windows" "$2" "$3" "$(win "$4")" "$(win "$5")"; }

same() {
  if cmp -s "$1" "$2"; then
    echo "ok: $3"
  else
    echo "FAILED: $3" >&2
    exit 1
  fi
}

# Sizes across the 64 KiB chunks, and an empty file.
head -c 300001 /dev/urandom >"$work/a.bin"
head -c 65536 /dev/urandom >"$work/b.bin"
: >"$work/c.bin"
mkdir "$work/from-linux" "$work/from-windows" "$work/by-password"

key="$work/stored.key"
other="$work/other.key"  # a key store the files were not written with

for f in a b c; do
  on_linux "$key" encrypt "pass $f" "$work/$f.bin" "$work/$f.linux"
  on_windows "$key" decrypt - "$work/$f.linux" "$work/from-linux"
  same "$work/$f.bin" "$work/from-linux/$f.bin" "$f: Linux -> Windows, stored key"

  on_windows "$key" encrypt "pass $f" "$work/$f.bin" "$work/$f.windows"
  on_linux "$key" decrypt - "$work/$f.windows" "$work/from-windows"
  same "$work/$f.bin" "$work/from-windows/$f.bin" "$f: Windows -> Linux, stored key"

  on_linux "$other" decrypt "pass $f" "$work/$f.windows" "$work/by-password"
  same "$work/$f.bin" "$work/by-password/$f.bin" "$f: Windows -> Linux, password"
  rm "$work/by-password/$f.bin"
  on_windows "$other" decrypt "pass $f" "$work/$f.linux" "$work/by-password"
  same "$work/$f.bin" "$work/by-password/$f.bin" "$f: Linux -> Windows, password"
done
