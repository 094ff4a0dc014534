#!/usr/bin/env bash
# A large stream through a pipe both ways, halvex beside age:
#   cat big | halvex encrypt - | halvex decrypt - | cmp - big
#   cat big | age -r R         | age -d -i KEY    | cmp - big
# Rounds alternate between them; the medians, the ratios and the peak RSS of
# each halvex process are printed. halvex holds the stream back until all of
# it has authenticated (its default), so cmp starts only once decryption has
# read everything; age writes as it goes, as halvex does with
# --stream-unverified, which is timed as well.
#
#   bench/pipe_bench.sh [build-dir]        (scripts/setup.sh bench first)
# BENCH_PIPE_MB (1024), BENCH_RUNS (5), BENCH_DIR (/var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
halvex=$(realpath "$build/cli/halvex")
mb=${BENCH_PIPE_MB:-1024}
runs=${BENCH_RUNS:-5}
for tool in age age-keygen python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "pipe_bench: $tool is missing: run scripts/setup.sh bench" >&2; exit 2; }
done
[ -x "$halvex" ] || { echo "pipe_bench: no $halvex: build the halvex_cli target first" >&2; exit 2; }

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/halvex-pipe-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HALVEX_KEYSTORE="$work/keystore" HALVEX_CONFIG="$work/settings.ini" XDG_RUNTIME_DIR="$work/run"
export TMPDIR="$work"
mkdir -p "$XDG_RUNTIME_DIR"
unset HALVEX_PASSWORD HALVEX_DRIVES
age-keygen -o "$work/age.key" 2>/dev/null
recipient=$(age-keygen -y "$work/age.key")
head -c "$((mb * 1024 * 1024))" /dev/urandom >"$work/big"
# The key store is made once, outside the timing; both tools then use a key
# that needs no derivation (halvex's stored key, age's X25519 identity).
echo | "$halvex" encrypt - >/dev/null 2>&1

now() { date +%s.%N; }
declare -a ours unverified theirs
for ((i = 0; i < runs; i++)); do
  t0=$(now)
  cat "$work/big" | /usr/bin/time -f %M -o "$work/rss-enc" "$halvex" encrypt - |
    /usr/bin/time -f %M -o "$work/rss-dec" "$halvex" decrypt - | cmp - "$work/big"
  t1=$(now)
  cat "$work/big" | "$halvex" encrypt - | "$halvex" decrypt --stream-unverified - | cmp - "$work/big"
  t2=$(now)
  cat "$work/big" | age -r "$recipient" | age -d -i "$work/age.key" | cmp - "$work/big"
  t3=$(now)
  ours+=("$(echo "$t1 - $t0" | bc -l)")
  unverified+=("$(echo "$t2 - $t1" | bc -l)")
  theirs+=("$(echo "$t3 - $t2" | bc -l)")
  echo "round $((i + 1)): halvex $(printf %.2f "${ours[-1]}") s (RSS encrypt $(cat "$work/rss-enc") KiB," \
       "decrypt $(cat "$work/rss-dec") KiB), unverified $(printf %.2f "${unverified[-1]}") s," \
       "age $(printf %.2f "${theirs[-1]}") s"
done
python3 - "$mb" "${ours[*]}" "${unverified[*]}" "${theirs[*]}" <<'PY'
import statistics, sys
mb = int(sys.argv[1])
ours, unverified, theirs = (statistics.median(map(float, a.split())) for a in sys.argv[2:5])
print(f"{mb} MiB through a pipe, encrypt | decrypt | cmp, medians:")
print(f"  halvex {ours:.2f} s ({mb / ours:.0f} MiB/s), --stream-unverified {unverified:.2f} s "
      f"({mb / unverified:.0f} MiB/s), age {theirs:.2f} s ({mb / theirs:.0f} MiB/s)")
print(f"  speed against age: halvex {theirs / ours:.2f}x, --stream-unverified {theirs / unverified:.2f}x")
PY
