#!/usr/bin/env bash
# Session benchmark: programs firmware images into the simulated drive and
# reports, for each run, the wall time against the least time the session's
# fixed pauses allow, the CPU time as a share of the wall time, and the heap
# allocations of a 1-block and of a 100-block run.
#
# Targets: wall time at most 1.003 x the minimum + 50 ms; CPU time under 1 %
# of wall time; the same number of heap allocations for 1 and for 100 blocks
# (nothing is allocated per datagram). Exit status 0 when all are met.
#
# Loopback only: as root the runs happen in a private network namespace,
# otherwise on 127.0.0.2 when port 8995 is free. Takes about 2 minutes
# (the 256 KiB image alone needs 512 blocks x 60 ms). Needs valgrind for the
# allocation count.
#
# Environment: BUILD_DIR (default build/default); SIZES (default "65536 262144",
# file sizes in bytes of the timed runs).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-build/default}
case $BUILD in /*) ;; *) BUILD=$PWD/$BUILD ;; esac
sizes=${SIZES:-65536 262144}
DRIVE_IP=127.0.0.2
source scripts/lib/drive-stage.sh

# The drive logs every datagram; on a memory file system a busy disk can't
# stall it (a drive that stalls for 300 ms ends a run).
scratch=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
work=$(mktemp -d "$scratch/tovrin-bench.XXXXXX")
trap 'stageDown; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

if ! { cmake --preset default -B "$BUILD" && cmake --build "$BUILD" --target tovrin drivesim; } \
  >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  exit 1
fi
stageUp "$work" "$DRIVE_IP" >/dev/null || exit 1

# As root, the drive and the timed runs take a real-time priority, so that
# other work on the machine (builds, tests) does not stretch their waits: the
# figures are the loader's own. Neither spins, so neither holds a core.
rt=()
if [ "$(id -u)" = 0 ] && command -v chrt >/dev/null && chrt -f 10 true 2>/dev/null; then
  chrt -f -p 10 "$stageDrivePid"
  rt=(chrt -f 10)
fi

# The least time a complete programming run can take: the pauses that the
# session makes when every command is answered at its first send, given the
# number of CMD_CONNECT sends it made.
minimum_ms() {
  local size=$1 connects=$2
  local n=$(((size + 3) / 4 * 4))
  local blocks=$(((n + 511) / 512))
  # link start, connects, monitor pause, enter monitor, blocks, verify,
  # reboot send, reboot pause
  echo $((150 + 30 * connects + 2500 + 150 + 60 * blocks + 120 + 30 + 5000))
}

connects_so_far() { grep -c ' code=16 ' "$work/drive.log" || true; }

failed=0
printf '\n%-10s %7s %11s %11s %11s %9s %8s %7s\n' \
  "image" "blocks" "wall ms" "minimum ms" "limit ms" "CPU ms" "CPU %" "result"
for size in $sizes; do
  head -c "$size" /dev/urandom >"$work/fw.bin"
  before=$(connects_so_far)
  TIMEFORMAT='%3R %3U %3S'
  { time inStage "${rt[@]}" "$BUILD/tovrin" -ip "$DRIVE_IP" -fp "$work/fw.bin" >"$work/console.txt" || true; } \
    2>"$work/time.txt"
  read -r real user sys <"$work/time.txt"
  if ! grep -q $'Reboot :\t\t\tDONE' "$work/console.txt"; then
    cat "$work/console.txt"
    echo
    echo "the run did not complete; the drive's last log lines:"
    tail -n 12 "$work/drive.log"
    exit 1
  fi
  connects=$(($(connects_so_far) - before))
  minimum=$(minimum_ms "$size" "$connects")
  read -r wall cpu limit share verdict < <(awk -v r="$real" -v u="$user" -v s="$sys" -v m="$minimum" '
    BEGIN {
      wall = r * 1000; cpu = (u + s) * 1000; limit = 1.003 * m + 50; share = 100 * cpu / wall
      ok = (wall <= limit && share < 1) ? "ok" : "MISSED"
      printf "%.0f %.0f %.0f %.2f %s\n", wall, cpu, limit, share, ok
    }')
  [ "$verdict" = ok ] || failed=1
  blocks=$((((size + 3) / 4 * 4 + 511) / 512))
  printf '%-10s %7d %11s %11s %11s %9s %8s %7s\n' \
    "$((size / 1024)) KiB" "$blocks" "$wall" "$minimum" "$limit" "$cpu" "$share" "$verdict"
done

# Heap allocations of a whole run, for 1 block and for 100 blocks.
if command -v valgrind >/dev/null; then
  allocations() {
    head -c "$1" /dev/urandom >"$work/fw.bin"
    inStage valgrind --log-file="$work/valgrind.txt" "$BUILD/tovrin" -ip "$DRIVE_IP" \
      -fp "$work/fw.bin" >"$work/console.txt" || true
    grep -q $'Reboot :\t\t\tDONE' "$work/console.txt" || { echo "run under valgrind did not complete" >&2; exit 1; }
    sed -n 's/.*total heap usage: \([0-9,]*\) allocs.*/\1/p' "$work/valgrind.txt" | tr -d ,
  }
  one=$(allocations 400)
  hundred=$(allocations $((100 * 512)))
  verdict=ok
  [ "$one" = "$hundred" ] || { verdict=MISSED; failed=1; }
  printf '\nheap allocations: 1 block %s, 100 blocks %s  %s\n' "$one" "$hundred" "$verdict"
else
  echo
  echo "heap allocations: not measured (valgrind is not installed)"
  failed=1
fi

exit $failed
