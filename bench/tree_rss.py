# Runs a command and prints its seconds and the peak of the resident memory
# of it and every process below it added together (KiB): a -j run's memory
# is its parent's and its batches' at once, which the peak of any one
# process (time's %M) understates.
#   python3 tree_rss.py COMMAND...
import os, subprocess, sys, time

def tree_rss(root):
    children = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            children.setdefault(ppid, []).append(int(pid))
        except (OSError, IndexError, ValueError):
            pass
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        todo += children.get(pid, [])
        try:
            with open(f"/proc/{pid}/status") as f:
                total += next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))
        except (OSError, StopIteration):
            pass
    return total

start = time.monotonic()
proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
peak = 0
while proc.poll() is None:
    peak = max(peak, tree_rss(proc.pid))
    time.sleep(0.02)
seconds = time.monotonic() - start
if proc.returncode != 0:
    sys.exit(f"tree_rss: {sys.argv[1:]} exited {proc.returncode}")
print(f"{seconds:.3f} {peak}")
