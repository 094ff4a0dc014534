#!/usr/bin/env bash
# Side-by-side timing of halvex against the tools people would use instead:
# age, gpg --symmetric (no compression), 7z (AES-256, store) and cp, on one
# large file and on many small ones, plus a reference loop that writes each
# small file durably (write, fdatasync, rename, fsync of the folder), the
# least any tool that never leaves a half-written file must do. The loop works
# in place, as halvex does: each file's new content replaces the old one, whose
# inode the file system frees. Beside it runs the same loop writing copies into
# another folder, which frees nothing.
#
#   bench/halvex_bench.sh [build-dir]        (scripts/setup.sh bench first)
# Sizes: BENCH_BIG_MB (1024), BENCH_SMALL_COUNT (10000), BENCH_SMALL_KB (4),
# BENCH_RUNS (5), BENCH_SETTLE_SECONDS (3), BENCH_LOOP_SAMPLE (500): age and
# gpg take one file per process, so on the many-files set they run over that
# many files and their time is scaled up to the whole set (marked * in the
# table).
# BENCH_SETS ("big small warm") chooses the sets: "warm" is the large file
# again, timed in warm memory (the file just written, nothing settled, as on
# a desktop), beside cp followed by an fsync of the copy (the durable-copy
# floor) and age without a flush. BENCH_SYSCALL_SAMPLE (1000): the small set's
# system calls per file are counted with strace over that many files, for
# halvex and for the durable loop. Data goes under BENCH_DIR
# (default: a new folder in /var/tmp, so it is on a real disk rather than in
# memory).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
halvex=$(realpath "$build/cli/halvex")
big_mb=${BENCH_BIG_MB:-1024}
small_count=${BENCH_SMALL_COUNT:-10000}
small_kb=${BENCH_SMALL_KB:-4}
runs=${BENCH_RUNS:-5}
loop_sample=${BENCH_LOOP_SAMPLE:-500}
syscall_sample=${BENCH_SYSCALL_SAMPLE:-1000}
sets=${BENCH_SETS:-big small warm}
# Debian's 7zip package names its command 7zz; p7zip's is 7z.
sevenzip=$(command -v 7zz || command -v 7z || true)
[ -n "$sevenzip" ] || { echo "halvex_bench: 7zz is missing: run scripts/setup.sh bench" >&2; exit 2; }
for tool in age age-keygen gpg hyperfine python3 strace /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "halvex_bench: $tool is missing: run scripts/setup.sh bench" >&2; exit 2; }
done
[ -x "$halvex" ] || { echo "halvex_bench: no $halvex: build the halvex_cli target first" >&2; exit 2; }

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/halvex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HALVEX_KEYSTORE="$work/keystore" HALVEX_CONFIG="$work/settings.ini" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" "$work/results"
unset HALVEX_PASSWORD HALVEX_DRIVES
pass="$work/pass"; echo "bench passphrase" >"$pass"
age-keygen -o "$work/age.key" 2>/dev/null
recipient=$(age-keygen -y "$work/age.key")
export GNUPGHOME="$work/gnupg"; mkdir -m 700 "$GNUPGHOME"
gpg_opts="--batch --quiet --yes --pinentry-mode loopback --passphrase-file $pass"

echo "== making data in $work: one file of $big_mb MiB, $small_count files of $small_kb KiB"
mkdir -p "$work/plain/big" "$work/plain/small"
head -c "$((big_mb * 1024 * 1024))" /dev/urandom >"$work/plain/big/data.bin"
python3 - "$work/plain/small" "$small_count" "$small_kb" <<'PY'
import os, sys
folder, count, kb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    with open(os.path.join(folder, f"f{i:05d}.bin"), "wb") as f:
        f.write(os.urandom(kb * 1024))
PY

# The reference loop (bench/durable_loop.py): each file written under a
# temporary name, flushed, renamed over the file it replaces and the folder
# flushed. Given a second folder, it writes the files there instead.
cp bench/durable_loop.py "$work/durable_loop.py"

# The sets whose data the runs read: "warm" reads the large file's.
data_sets() { for set in $sets; do [ "$set" = warm ] && echo big || echo "$set"; done | sort -u; }

# Encrypted inputs for the decryption runs, made once.
echo "== preparing encrypted inputs"
for set in $(data_sets); do
  cp -a "$work/plain/$set" "$work/halvex-enc-$set"
  "$halvex" encrypt -r "$work/halvex-enc-$set" >/dev/null
  mkdir -p "$work/age-enc-$set" "$work/gpg-enc-$set"
  for f in $(ls "$work/plain/$set" | sed -n "1,${loop_sample}p" | sed "s#^#$work/plain/$set/#"); do
    age -r "$recipient" -o "$work/age-enc-$set/$(basename "$f").age" "$f"
    gpg $gpg_opts --symmetric --compress-algo none -o "$work/gpg-enc-$set/$(basename "$f").gpg" "$f"
  done
  (cd "$work/plain/$set" && "$sevenzip" a -bd -mx=0 -mhe=on -p"bench passphrase" "$work/7z-$set.7z" . >/dev/null)
done

# Every timed run starts from the same state (see settle.sh).
settle="env SETTLE_SECONDS=${BENCH_SETTLE_SECONDS:-3} $PWD/bench/settle.sh"

# One measurement: name, set, command; prepare runs before each timed run.
measure() {
  local name=$1 set=$2 prepare=$3 cmd=$4
  hyperfine --style none --runs "$runs" --prepare "$prepare && $settle" --export-json "$work/results/$set-$name.json" \
    "$cmd" >/dev/null 2>&1 || { echo "halvex_bench: $name on $set failed: $cmd" >&2; return; }
  eval "$prepare"
  /usr/bin/time -f %M -o "$work/results/$set-$name.rss" bash -c "$cmd" >/dev/null 2>&1 || true
}

# One timed run, its seconds and peak RSS appended to the set's record of name.
# In the warm set nothing is settled: the run meets the page cache its
# preparation left, the just-written file among it.
timed_run() {
  local set=$1 name=$2 prepare=$3 cmd=$4
  eval "$prepare"
  [ "$set" = warm ] || $settle
  /usr/bin/time -f "%e %M" -o "$work/results/$set-$name.last" bash -c "$cmd" >/dev/null 2>&1 ||
    { echo "halvex_bench: $name on $set failed: $cmd" >&2; return 1; }
  cat "$work/results/$set-$name.last" >>"$work/results/$set-$name.runs"
}

# What one contender in the rounds runs, in $prepare and $cmd. Every one
# starts from a fresh copy of its input in $out, as halvex works in place on
# one: each preparation then writes as much as the others', and leaves the
# host's memory in the same state.
contender() {
  local set=$1 name=$2
  prepare="$reset_all && cp -a $plain $out"
  case $name in
    halvex-encrypt) cmd="$halvex encrypt -r $out" ;;
    halvex-decrypt) prepare="$reset_all && cp -a $work/halvex-enc-$data $out" cmd="$halvex decrypt -r $out" ;;
    # The durable-copy floor: a plain copy, put on disk before it counts.
    cp-fsync) cmd="cp $out/data.bin $out.copy && sync $out.copy" ;;
    age-encrypt-nosync) cmd="age -r $recipient -o $out.copy $out/data.bin" ;;
    dd-fsync) cmd="dd if=$out/data.bin of=$out.copy bs=1M conv=fsync status=none" ;;
    # age does not flush its output; made as durable as halvex's, it pays for
    # the disk too.
    age-encrypt-sync) cmd="age -r $recipient -o $out.copy $out/data.bin && sync $out.copy" ;;
    age-decrypt-sync)
      prepare="$reset_all && cp -a $work/age-enc-$data $out"
      cmd="age -d -i $work/age.key -o $out.copy $out/data.bin.age && sync $out.copy" ;;
    durable-loop) cmd="python3 $work/durable_loop.py $out" ;;
    durable-copy-loop) cmd="python3 $work/durable_loop.py $out $out.copy" ;;
    *) echo "halvex_bench: no contender $name" >&2; return 1 ;;
  esac
}

# The contenders named take turns, round by round in a rotated order, so that
# any drift of the disk or of the host's memory over the minutes of a run bears
# on all alike: their figures decide the targets.
take_turns() {
  local set=$1 round k name prepare cmd
  shift
  local names=("$@")
  for ((round = 0; round < runs; round++)); do
    for ((k = 0; k < ${#names[@]}; k++)); do
      name=${names[$(((round + k) % ${#names[@]}))]}
      contender "$set" "$name"
      timed_run "$set" "$name" "$prepare" "$cmd"
    done
  done
  for name in "${names[@]}"; do
    python3 -c 'import json, sys; json.dump({"results": [{"times": [float(l.split()[0]) for l in open(sys.argv[1])]}]}, open(sys.argv[2], "w"))' \
      "$work/results/$set-$name.runs" "$work/results/$set-$name.json"
    awk '$2 > peak { peak = $2 } END { print peak }' "$work/results/$set-$name.runs" >"$work/results/$set-$name.rss"
  done
}

# System calls per file: strace over a sample of the small set, less a run
# over one file (the start-up every run pays), shared out over the rest.
count_syscalls() {  # NAME PREPARE COMMAND (both given the folder as $1)
  local name=$1 prepare=$2 cmd=$3 n total=() folder
  for n in 1 "$syscall_sample"; do
    folder="$work/sys-$n"
    rm -rf "$folder" && mkdir -p "$folder"
    # sed reads the whole listing: head would stop early, and ls, killed by
    # the broken pipe, would fail the pipeline.
    ls "$work/plain/small" | sed -n "1,${n}p" | sed "s#^#$work/plain/small/#" | xargs cp -t "$folder"
    bash -c "$prepare" _ "$folder" >/dev/null 2>&1
    strace -f -c -o "$work/results/strace-$name-$n" bash -c "$cmd" _ "$folder" >/dev/null 2>&1 ||
      { echo "halvex_bench: strace of $name failed" >&2; return; }
    total+=("$(awk '$NF == "total" { print $4 }' "$work/results/strace-$name-$n")")
  done
  rm -rf "$work"/sys-*
  python3 -c 'import sys; one, many, n = map(int, sys.argv[1:]); print(f"{(many - one) / (n - 1):.1f}")' \
    "${total[0]}" "${total[1]}" "$syscall_sample" >"$work/results/small-$name.syscalls"
}

for set in $sets; do
  data=$set; [ "$set" = warm ] && data=big
  plain="$work/plain/$data"; out="$work/out"
  # The files the per-file tools run over, and the factor to the whole set.
  ls "$plain" | sed -n "1,${loop_sample}p" | sed "s#^#$plain/#" >"$work/loop-$set"
  scale=$(python3 -c "import sys; print($(ls "$plain" | wc -l) / $(wc -l <"$work/loop-$set"))")
  for name in age-encrypt gpg-encrypt age-decrypt gpg-decrypt; do echo "$scale" >"$work/results/$set-$name.scale"; done
  reset_all="rm -rf $out $out.copy"
  reset="$reset_all && mkdir -p $out"
  echo "== $set: halvex and the durable references, taking turns"
  if [ "$set" = warm ]; then
    # Warm memory: halvex against the durable-copy floor and age, the file
    # just copied into place before each run.
    take_turns $set cp-fsync halvex-encrypt halvex-decrypt age-encrypt-nosync
    continue
  elif [ "$set" = big ]; then
    # The durable-copy limit for one large file (our outputs are flushed too),
    # and age made as durable.
    take_turns $set dd-fsync halvex-encrypt halvex-decrypt age-encrypt-sync age-decrypt-sync
  else
    take_turns $set durable-loop halvex-encrypt halvex-decrypt durable-copy-loop
    echo "== small: system calls per file, over $syscall_sample files"
    count_syscalls durable-loop : "python3 $work/durable_loop.py \$1"
    count_syscalls halvex-encrypt : "$halvex encrypt -r \$1"
    count_syscalls halvex-decrypt "$halvex encrypt -r \$1" "$halvex decrypt -r \$1"
  fi
  echo "== $set: the other tools"
  measure "age-encrypt" $set "$reset" "for f in \$(cat $work/loop-$set); do age -r $recipient -o $out/\$(basename \$f).age \$f; done"
  measure "gpg-encrypt" $set "$reset" "for f in \$(cat $work/loop-$set); do gpg $gpg_opts --symmetric --compress-algo none -o $out/\$(basename \$f).gpg \$f; done"
  measure "7z-encrypt" $set "$reset" "cd $plain && $sevenzip a -bd -mx=0 -mhe=on -p'bench passphrase' $out/a.7z . >/dev/null"
  measure "cp" $set "$reset" "cp -a $plain/. $out/"
  measure "age-decrypt" $set "$reset" "for f in \$(sed 's#.*/##' $work/loop-$set); do age -d -i $work/age.key -o $out/\$f $work/age-enc-$set/\$f.age; done"
  measure "gpg-decrypt" $set "$reset" "for f in \$(sed 's#.*/##' $work/loop-$set); do gpg $gpg_opts -d -o $out/\$f $work/gpg-enc-$set/\$f.gpg; done"
  measure "7z-decrypt" $set "$reset" "$sevenzip x -bd -p'bench passphrase' -o$out $work/7z-$set.7z >/dev/null"
done

python3 - "$work/results" "$big_mb" "$small_count" "$small_kb" <<'PY'
import json, os, statistics, sys
folder = sys.argv[1]
sets = {"big": f"one file of {sys.argv[2]} MiB", "small": f"{sys.argv[3]} files of {sys.argv[4]} KiB",
        "warm": f"one file of {sys.argv[2]} MiB in warm memory (nothing settled)"}
def syscalls(tool):
    path = os.path.join(folder, f"{key}-{tool}.syscalls")
    return open(path).read().strip() if os.path.exists(path) else ""

for key, title in sets.items():
    rows = {}
    for name in sorted(os.listdir(folder)):
        if not (name.startswith(key + "-") and name.endswith(".json")):
            continue
        tool = name[len(key) + 1:-5]
        times = json.load(open(os.path.join(folder, name)))["results"][0]["times"]
        rss_file = os.path.join(folder, f"{key}-{tool}.rss")
        rss = open(rss_file).read().strip().splitlines()[-1] if os.path.exists(rss_file) else "?"
        scale_file = os.path.join(folder, f"{key}-{tool}.scale")
        scale = float(open(scale_file).read()) if os.path.exists(scale_file) else 1.0
        mark = "*" if scale != 1.0 else ""
        rows[tool + mark] = (statistics.median(times) * scale, rss, times)
    if not rows:
        continue
    print(f"\n{title}  (* scaled from {os.environ.get('BENCH_LOOP_SAMPLE', '500')} files)" if key == "small" else f"\n{title}")
    print(f"  {'tool':<20}{'median s':>10}{'x halvex':>10}{'peak RSS KiB':>14}{'calls/file':>12}")
    for tool, (median, rss, _) in rows.items():
        ref = rows.get("halvex-decrypt" if "decrypt" in tool else "halvex-encrypt", (None,))[0]
        ratio = f"{median / ref:.2f}" if ref else "-"
        print(f"  {tool:<20}{median:>10.3f}{ratio:>10}{rss:>14}{syscalls(tool):>12}")
    # The targets, as throughput against the durable reference of the set.
    reference = {"big": "dd-fsync", "small": "durable-loop", "warm": "cp-fsync"}[key]
    target = {"big": 1.8, "small": 0.9, "warm": 0.85}[key]
    if reference in rows:
        for tool in ("halvex-encrypt", "halvex-decrypt"):
            if tool in rows:
                share = rows[reference][0] / rows[tool][0]
                print(f"  {tool} / {reference}: {share:.2f} x its throughput (target >= {target})")
                if key == "small" and syscalls(tool) and syscalls(reference):
                    share = float(syscalls(tool)) / float(syscalls(reference))
                    print(f"  {tool}: {share:.2f} x the system calls per file of {reference} (target <= 1.5)")
                if "durable-copy-loop" in rows:
                    share = rows["durable-copy-loop"][0] / rows[tool][0]
                    print(f"  {tool} / durable-copy-loop: {share:.2f} x its throughput")
        if key == "big":
            for tool, age in (("halvex-encrypt", "age-encrypt-sync"), ("halvex-decrypt", "age-decrypt-sync")):
                if tool in rows and age in rows:
                    print(f"  {tool} / {age}: {rows[age][0] / rows[tool][0]:.2f} x its throughput (target >= 1)")
        others = {"big": ("age-encrypt-sync", "age-decrypt-sync"), "small": ("durable-copy-loop",),
                  "warm": ("age-encrypt-nosync",)}[key]
        for tool in (reference, "halvex-encrypt", "halvex-decrypt") + others:
            if tool in rows:
                print(f"    runs of {tool}: " + " ".join(f"{t:.2f}" for t in rows[tool][2]))
PY
