# The reference loop of the benchmarks: each file written under a temporary
# name, flushed, renamed over the file it replaces and the folder flushed.
# Given a second folder, it writes the files there instead. Given a slice
# K/N, it takes every N-th file from the K-th: N of them at once are the same
# loop run N-wide.
#   python3 durable_loop.py SOURCE [DEST] [K/N]
import os, sys
args = sys.argv[1:]
part, count = 0, 1
if args and "/" in args[-1] and args[-1].replace("/", "").isdigit():
    part, count = map(int, args.pop().split("/"))
src = args[0]
dst = args[1] if len(args) > 1 else src
os.makedirs(dst, exist_ok=True)
dfd = os.open(dst, os.O_RDONLY | os.O_DIRECTORY)
# Names starting with a dot are the loop's own temporaries: another slice
# running beside this one may already have made some, and counting them would
# shift this slice onto the other's files.
names = sorted(n for n in os.listdir(src) if not n.startswith("."))
for name in names[part::count]:
    with open(os.path.join(src, name), "rb") as f:
        data = f.read()
    tmp = os.path.join(dst, "." + name + ".tmp")
    fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    os.write(fd, data)
    os.fdatasync(fd)
    os.close(fd)
    os.rename(tmp, os.path.join(dst, name))
    os.fsync(dfd)
os.close(dfd)
