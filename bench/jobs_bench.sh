#!/usr/bin/env bash
# halvex against the durable floors it is measured by, side by side in one
# run: many small files in place both ways against the one-file-at-a-time
# durable loop (bench/durable_loop.py) and that loop run N-wide; one large
# file, settled and in warm memory, against cp + fsync and dd conv=fsync.
# halvex runs with its default -j and with -j 1. Every contender takes turns
# with the others, round by round in a rotated order; medians are reported
# with every run, and the peak resident memory of each contender's whole
# process tree (bench/tree_rss.py).
#
#   bench/jobs_bench.sh [build-dir]
# BENCH_SMALL_COUNT (10000), BENCH_SMALL_KB (4), BENCH_BIG_MB (512),
# BENCH_RUNS (5), BENCH_JOBS (the -j default's N: the cores, at most 8),
# BENCH_SETS ("small big warm"), BENCH_SETTLE_SECONDS (3); data under
# BENCH_DIR (default: a new folder in /var/tmp, on a real disk).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
halvex=$(realpath "$build/cli/halvex")
small_count=${BENCH_SMALL_COUNT:-10000}
small_kb=${BENCH_SMALL_KB:-4}
big_mb=${BENCH_BIG_MB:-512}
runs=${BENCH_RUNS:-5}
wide=${BENCH_JOBS:-$(nproc)}
((wide > 8)) && wide=8
sets=${BENCH_SETS:-small big warm}
[ -x "$halvex" ] || { echo "jobs_bench: no $halvex: build the halvex_cli target first" >&2; exit 2; }

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/halvex-jobs-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HALVEX_KEYSTORE="$work/keystore" HALVEX_CONFIG="$work/settings.ini" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" "$work/results"
unset HALVEX_PASSWORD HALVEX_DRIVES
settle="env SETTLE_SECONDS=${BENCH_SETTLE_SECONDS:-3} $PWD/bench/settle.sh"
loop="python3 $PWD/bench/durable_loop.py"
measured="python3 $PWD/bench/tree_rss.py"

# Overlapping flushes pays only as far as the file system commits them
# together: say which kind the data is on, and whether an ext4 one journals.
device=$(df --output=source "$work" | tail -1)
fs="$(stat -f -c %T "$work") on $device"
task=/sys/fs/ext4/$(basename "$device")/journal_task
[ -r "$task" ] && fs+=", journal: $([ "$(cat "$task")" = "<none>" ] && echo none || echo yes)"
echo "== file system: $fs"
echo "== making data in $work: $small_count files of $small_kb KiB, one file of $big_mb MiB; N = $wide"
mkdir -p "$work/plain/small" "$work/plain/big"
python3 - "$work/plain/small" "$small_count" "$small_kb" <<'PY'
import os, sys
folder, count, kb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    with open(os.path.join(folder, f"f{i:05d}.bin"), "wb") as f:
        f.write(os.urandom(kb * 1024))
PY
head -c "$((big_mb * 1024 * 1024))" /dev/urandom >"$work/plain/big/data.bin"
for data in small big; do
  cp -a "$work/plain/$data" "$work/enc-$data"
  "$halvex" encrypt -r -j 1 --no-input "$work/enc-$data" >/dev/null
done

out="$work/out"
# What one contender runs ($cmd) on a fresh copy of its input ($prepare).
contender() {
  local data=$1 name=$2
  prepare="rm -rf $out $out.copy && cp -a $work/plain/$data $out"
  case $name in
    loop) cmd="$loop $out" ;;
    # Every slice's own status counts: a bare wait would hide a failed one.
    loop-wide) cmd="bash -c 'for k in \$(seq 0 $((wide - 1))); do $loop $out \$k/$wide & pids+=(\$!); done; for p in \${pids[@]}; do wait \$p || exit 1; done'" ;;
    halvex-encrypt) cmd="$halvex encrypt -r --no-input $out" ;;
    halvex-encrypt-j1) cmd="$halvex encrypt -r --no-input -j 1 $out" ;;
    halvex-decrypt) prepare="rm -rf $out && cp -a $work/enc-$data $out" cmd="$halvex decrypt -r --no-input $out" ;;
    halvex-decrypt-j1) prepare="rm -rf $out && cp -a $work/enc-$data $out" cmd="$halvex decrypt -r --no-input -j 1 $out" ;;
    cp-fsync) cmd="bash -c 'cp $out/data.bin $out.copy && sync $out.copy'" ;;
    dd-fsync) cmd="dd if=$out/data.bin of=$out.copy bs=1M conv=fsync status=none" ;;
    *) echo "jobs_bench: no contender $name" >&2; return 1 ;;
  esac
}

for set in $sets; do
  data=$set; [ "$set" = warm ] && data=big
  case $set in
    small) names=(loop loop-wide halvex-encrypt halvex-decrypt halvex-encrypt-j1 halvex-decrypt-j1) ;;
    *) names=(cp-fsync dd-fsync halvex-encrypt halvex-decrypt halvex-encrypt-j1 halvex-decrypt-j1) ;;
  esac
  echo "== $set: ${names[*]}, $runs rounds"
  for ((round = 0; round < runs; round++)); do
    for ((k = 0; k < ${#names[@]}; k++)); do
      name=${names[$(((round + k) % ${#names[@]}))]}
      contender "$data" "$name"
      eval "$prepare"
      # Warm memory: the run meets the page cache its preparation left.
      [ "$set" = warm ] || $settle
      eval "$measured $cmd" >>"$work/results/$set-$name" ||
        { echo "jobs_bench: $name on $set failed: $cmd" >&2; exit 1; }
    done
  done
done

python3 - "$work/results" "$small_count" "$small_kb" "$big_mb" "$wide" "$sets" <<'PY'
import os, statistics, sys
folder, count, kb, mb, wide, sets = sys.argv[1:]
titles = {"small": f"{count} files of {kb} KiB in place", "big": f"one file of {mb} MiB, settled",
          "warm": f"one file of {mb} MiB in warm memory"}
refs = {"small": ["loop", "loop-wide"], "big": ["cp-fsync", "dd-fsync"], "warm": ["cp-fsync", "dd-fsync"]}
for key in sets.split():
    runs = {}
    for name in sorted(os.listdir(folder)):
        if name.startswith(key + "-"):
            pairs = [l.split() for l in open(os.path.join(folder, name))]
            runs[name[len(key) + 1:]] = ([float(s) for s, _ in pairs], max(int(r) for _, r in pairs))
    print(f"\n{titles[key]} (N = {wide})")
    print(f"  {'contender':<20}{'median s':>10}{'peak RSS KiB':>14}   runs")
    for name, (times, rss) in runs.items():
        print(f"  {name:<20}{statistics.median(times):>10.3f}{rss:>14}   " + " ".join(f"{t:.2f}" for t in times))
    if key == "small" and "loop" in runs and "loop-wide" in runs:
        # What overlapping alone gives on this machine: the loop against itself.
        print(f"  loop-wide: throughput {statistics.median(runs['loop'][0]) / statistics.median(runs['loop-wide'][0]):.2f}x loop")
    for tool in [n for n in runs if n.startswith("halvex")]:
        ratios = [f"{statistics.median(runs[r][0]) / statistics.median(runs[tool][0]):.2f}x {r}" for r in refs[key] if r in runs]
        print(f"  {tool}: throughput " + ", ".join(ratios))
PY
