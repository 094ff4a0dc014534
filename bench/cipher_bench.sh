#!/bin/sh
# Side-by-side figures for the cipher library on this machine:
#   dd conv=fsync, age -r (when installed) and our encryption and decryption
#   of one 1 GiB file with a warm page cache; peak RSS for 1 GiB and 10 MiB;
#   in-memory AEAD throughput; Argon2id at the default parameters; and a
#   batch of small files decrypted with one password.
#
# usage: [RUNS=5] [SETTLE_SECONDS=3] bench/cipher_bench.sh [path/to/cipher_bench] [work folder]
set -eu

BENCH=${1:-$(dirname "$0")/../build/bench/cipher_bench}
RUNS=${RUNS:-5}
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
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Every timed run starts from the same state (see settle.sh).
SETTLE=$(cd "$(dirname "$0")" && pwd)/settle.sh

# The source sits in a folder of its own so that its decryption, which
# restores the stored name, can land in $WORK beside every other output.
mkdir "$WORK/src"
SRC=$WORK/src/source.bin
head -c 1073741824 /dev/urandom >"$SRC"
SIZE=$(stat -c %s "$SRC")
cat "$SRC" >/dev/null  # warm the page cache

HAVE_AGE=""
if command -v age >/dev/null 2>&1 && command -v age-keygen >/dev/null 2>&1; then
  HAVE_AGE=1
  age-keygen -o "$WORK/age.key" 2>/dev/null
  RECIPIENT=$(age-keygen -y "$WORK/age.key")
fi
# Inputs of the decryptions, made once and not timed.
"$BENCH" encrypt "$SRC" "$WORK/source.hvx" >/dev/null
[ -n "$HAVE_AGE" ] && age -r "$RECIPIENT" -o "$WORK/age.out" "$SRC"

# One timed run of each contender; each prints MiB/s and removes its output.
# age does not flush, so its output is synced inside the timing.
run_dd() { T=$(elapsed dd if="$SRC" of="$WORK/dd.out" bs=1M conv=fsync); rm -f "$WORK/dd.out"; mibs "$SIZE" "$T"; }
run_dd128() { T=$(elapsed dd if="$SRC" of="$WORK/dd.out" bs=128K conv=fsync); rm -f "$WORK/dd.out"; mibs "$SIZE" "$T"; }
run_age() {
  T=$(elapsed sh -c "age -r '$RECIPIENT' -o '$WORK/age.new' '$SRC' && sync '$WORK/age.new'")
  rm -f "$WORK/age.new"; mibs "$SIZE" "$T"
}
run_age_d() {
  T=$(elapsed sh -c "age -d -i '$WORK/age.key' -o '$WORK/age.plain' '$WORK/age.out' && sync '$WORK/age.plain'")
  rm -f "$WORK/age.plain"; mibs "$SIZE" "$T"
}
run_enc() {
  LINE=$("$BENCH" encrypt "$SRC" "$WORK/new.hvx")
  echo "$LINE" | field peak_rss_kib >"$WORK/enc.rss"
  rm -f "$WORK/new.hvx"; echo "$LINE" | field mib_per_s
}
run_dec() {
  LINE=$("$BENCH" decrypt "$WORK/source.hvx" "$WORK")
  echo "$LINE" | field peak_rss_kib >"$WORK/dec.rss"
  cmp -s "$SRC" "$WORK/source.bin" || { echo "round trip differs" >&2; exit 1; }
  rm -f "$WORK/source.bin"; echo "$LINE" | field mib_per_s
}

CONTENDERS="dd dd128 enc dec"
[ -n "$HAVE_AGE" ] && CONTENDERS="dd dd128 age age_d enc dec"
set -- $CONTENDERS
COUNT=$#
echo "== 1 GiB, warm page cache, median of $RUNS rounds (each round in a rotated order, every run from settled memory)"
run=0
while [ "$run" -lt "$RUNS" ]; do
  # Rotating the order keeps any drift of the disk from favouring one contender.
  k=0
  while [ "$k" -lt "$COUNT" ]; do
    i=$(( (run + k) % COUNT + 1 ))
    eval "name=\${$i}"
    "$SETTLE"
    "run_$name" >>"$WORK/$name.mibs"
    k=$((k + 1))
  done
  run=$((run + 1))
done
figure() { median <"$WORK/$1.mibs"; }
runs() { echo "(runs: $(tr '\n' ' ' <"$WORK/$1.mibs"))"; }
DD=$(figure dd) DD128=$(figure dd128) ENC=$(figure enc) DEC=$(figure dec)
echo "dd bs=1M conv=fsync      $DD MiB/s   $(runs dd)"
echo "dd bs=128K conv=fsync    $DD128 MiB/s   $(runs dd128)"
if [ -n "$HAVE_AGE" ]; then
  AGE=$(figure age) AGE_D=$(figure age_d)
  echo "age -r (+ sync)          $AGE MiB/s   $(runs age)"
  echo "age -d (+ sync)          $AGE_D MiB/s   $(runs age_d)"
else
  echo "age                      not installed (apt-get install age)"
fi
echo "halvex encrypt           $ENC MiB/s   $(runs enc)  peak RSS $(cat "$WORK/enc.rss") KiB"
echo "halvex decrypt           $DEC MiB/s   $(runs dec)  peak RSS $(cat "$WORK/dec.rss") KiB"
echo "encrypt / dd             $(ratio "$ENC" "$DD")   (target >= 0.8)"
echo "decrypt / dd             $(ratio "$DEC" "$DD")   (target >= 0.8)"
echo "encrypt / dd bs=128K     $(ratio "$ENC" "$DD128")"
echo "decrypt / dd bs=128K     $(ratio "$DEC" "$DD128")"
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
