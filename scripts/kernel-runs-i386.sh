#!/bin/sh
# Exits 0 when this kernel starts 32-bit x86 programs (IA-32 emulation is a
# kernel option, and some machines here lack it). Tried, not guessed: a
# 93-byte i386 ELF that only exits with status 7.
probe=$(mktemp "${TMPDIR:-/tmp}/halvex-i386-probe.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\061\333\263\007\061\300\100\315\200' >"$probe"
chmod +x "$probe"
status=0
"$probe" 2>/dev/null || status=$?
[ "$status" -eq 7 ]
