#!/bin/sh
# Run before every timed run of the benchmarks, after its own preparation:
# whatever was written is put on disk, and free memory is compacted (as
# root) and given SETTLE_SECONDS (3) to settle. On a virtual machine whose
# host takes back free memory, a write through the page cache costs several
# times more on memory the host has taken back than on memory freed a moment
# ago; without this, which of the two a run meets would decide the figures
# rather than the tools.
sync
[ -w /proc/sys/vm/compact_memory ] && echo 1 >/proc/sys/vm/compact_memory
sleep "${SETTLE_SECONDS:-3}"
