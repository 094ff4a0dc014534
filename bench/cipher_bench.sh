#!/bin/sh
# Side-by-side figures for the cipher library on this machine:
#   dd conv=fsync, age -r (when installed) and our encryption and decryption
#   of one 1 GiB file with a warm page cache; peak RSS for 1 GiB and 10 MiB;
#   in-memory AEAD throughput; Argon2id at the default parameters; and a
#   batch of small files decrypted with one password.
#
# usage: [RUNS=3] bench/cipher_bench.sh [path/to/cipher_bench] [work folder]
set -eu

BENCH=${1:-$(dirname "$0")/../build/bench/cipher_bench}
RUNS=${RUNS:-3}
WORK=$(mktemp -d "${2:-/var/tmp}/halvex-cipher-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
[ -x "$BENCH" ] || { echo "no driver at $BENCH: build the cipher_bench target" >&2; exit 2; }

# Seconds (as a decimal) a command takes.
elapsed() {
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
mibs() { echo "scale=1; $1 / 1048576 / $2" | bc -l; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }

# The source sits in a folder of its own so that its decryption, which
# restores the stored name, can land in $WORK beside every other output.
mkdir "$WORK/src"
SRC=$WORK/src/source.bin
head -c 1073741824 /dev/urandom >"$SRC"
SIZE=$(stat -c %s "$SRC")
sync  # no write-back of the source may slow the first contender
cat "$SRC" >/dev/null  # warm the page cache

echo "== 1 GiB, warm page cache, best of $RUNS runs (the disk's own speed varies run to run)"
best() { if [ -z "$1" ] || [ "$(echo "$2 > $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
DD="" AGE="" AGE_D="" ENC="" DEC="" ENC_RSS=0 DEC_RSS=0
HAVE_AGE=""
if command -v age >/dev/null 2>&1 && command -v age-keygen >/dev/null 2>&1; then
  HAVE_AGE=1
  age-keygen -o "$WORK/age.key" 2>/dev/null
  RECIPIENT=$(age-keygen -y "$WORK/age.key")
fi
# Inputs of the decryptions, made once and not timed.
"$BENCH" encrypt "$SRC" "$WORK/source.hvx" >/dev/null
[ -n "$HAVE_AGE" ] && age -r "$RECIPIENT" -o "$WORK/age.out" "$SRC"
# Every contender writes 1 GiB that is deleted before the next one starts,
# so each writes onto blocks the one before it has just freed: a virtual
# disk is several times slower on blocks it has not handed out lately, and
# that would otherwise decide the figures rather than the tools.
dd if="$SRC" of="$WORK/warmup" bs=1M conv=fsync status=none && rm -f "$WORK/warmup"
run=0
while [ "$run" -lt "$RUNS" ]; do
  run=$((run + 1))
  sync
  DD=$(best "$DD" "$(mibs "$SIZE" "$(elapsed dd if="$SRC" of="$WORK/dd.out" bs=1M conv=fsync)")")
  rm -f "$WORK/dd.out"
  if [ -n "$HAVE_AGE" ]; then
    # age does not flush; sync its output too so both pay for the disk.
    sync
    T=$(elapsed sh -c "age -r '$RECIPIENT' -o '$WORK/age.new' '$SRC' && sync '$WORK/age.new'")
    AGE=$(best "$AGE" "$(mibs "$SIZE" "$T")")
    rm -f "$WORK/age.new"
    sync
    T=$(elapsed sh -c "age -d -i '$WORK/age.key' -o '$WORK/age.plain' '$WORK/age.out' && sync '$WORK/age.plain'")
    AGE_D=$(best "$AGE_D" "$(mibs "$SIZE" "$T")")
    rm -f "$WORK/age.plain"
  fi
  sync
  LINE=$("$BENCH" encrypt "$SRC" "$WORK/new.hvx")
  ENC=$(best "$ENC" "$(echo "$LINE" | field mib_per_s)")
  ENC_RSS=$(echo "$LINE" | field peak_rss_kib)
  rm -f "$WORK/new.hvx"
  sync
  LINE=$("$BENCH" decrypt "$WORK/source.hvx" "$WORK")
  DEC=$(best "$DEC" "$(echo "$LINE" | field mib_per_s)")
  DEC_RSS=$(echo "$LINE" | field peak_rss_kib)
  cmp -s "$SRC" "$WORK/source.bin" || { echo "round trip differs" >&2; exit 1; }
  rm -f "$WORK/source.bin"
done
echo "dd bs=1M conv=fsync      $DD MiB/s"
if [ -n "$HAVE_AGE" ]; then
  echo "age -r (+ sync)          $AGE MiB/s"
  echo "age -d (+ sync)          $AGE_D MiB/s"
else
  echo "age                      not installed (apt-get install age)"
fi
echo "halvex encrypt           $ENC MiB/s   peak RSS $ENC_RSS KiB"
echo "halvex decrypt           $DEC MiB/s   peak RSS $DEC_RSS KiB"
echo "encrypt / dd             $(ratio "$ENC" "$DD")   (target >= 0.8)"
echo "decrypt / dd             $(ratio "$DEC" "$DD")   (target >= 0.8)"
if [ -n "$HAVE_AGE" ]; then
  echo "encrypt / age -r         $(ratio "$ENC" "$AGE")   (target >= 1)"
  echo "decrypt / age -d         $(ratio "$DEC" "$AGE_D")   (target >= 1)"
fi

echo "== 10 MiB"
head -c 10485760 /dev/urandom >"$WORK/small.bin"
mkdir "$WORK/out"
S_ENC=$("$BENCH" encrypt "$WORK/small.bin" "$WORK/small.hvx")
S_DEC=$("$BENCH" decrypt "$WORK/small.hvx" "$WORK/out")
echo "halvex encrypt           peak RSS $(echo "$S_ENC" | field peak_rss_kib) KiB"
echo "halvex decrypt           peak RSS $(echo "$S_DEC" | field peak_rss_kib) KiB   (target <= 32768)"

echo "== in memory, one core"
"$BENCH" aead 2

echo "== password transcoding"
"$BENCH" argon2

echo "== 1000 small files, one password"
"$BENCH" many 1000
