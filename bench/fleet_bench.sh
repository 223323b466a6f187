#!/usr/bin/env bash
# Several-drives benchmark: starts one simulated drive process serving 132
# addresses and runs bench/fleet_bench.cpp for 1, 8, 32 and 100 drives, and
# for 32 drives with -s of which the first 16 already hold the file (see
# there for the figures and targets). Exit status 0 when the targets are met.
#
# Loopback only: as root in a private network namespace, otherwise on
# 127.0.0.2 onwards when port 8995 is free. Takes about a minute and a half
# with the default 64 KiB image.
#
# Environment: BUILD_DIR (default build); SIZE (image bytes, default 65536);
# COUNTS (default "1 8 32 100 32s"; "Ns": N drives with -s, half current).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
size=${SIZE:-65536}
read -r -a counts <<<"${COUNTS:-1 8 32 100 32s}"

FIRST_IP=127.0.0.2
# The drives of the runs with -s (fleet_bench's SKIP_OFFSET on); the first
# 16 of them hold the file.
SKIP_FIRST_IP=127.0.0.102
LOCK=/tmp/tovrin-loopback-8995.lock

work=$(mktemp -d /tmp/tovrin-fleet-bench.XXXXXX)
netns=""
drive_pid=""
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  if [ -n "$drive_pid" ]; then
    kill "$drive_pid" 2>/dev/null || true
    wait "$drive_pid" 2>/dev/null || true
  fi
  if [ -n "$netns" ]; then
    ip netns del "$netns" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! { cmake -S . -B "$build" -G Ninja -DTOVRIN_BENCH=ON &&
  cmake --build "$build" --target fleet_bench drivesim; } >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  exit 1
fi

run=()
if [ "$(id -u)" = 0 ] && ip netns add "tvfleet$$" 2>/dev/null; then
  netns="tvfleet$$"
  ip netns exec "$netns" ip link set lo up
  run=(ip netns exec "$netns")
else
  if [ -e "$LOCK" ]; then exec 9<"$LOCK"; else exec 9>"$LOCK"; chmod 0666 "$LOCK" 2>/dev/null || true; fi
  flock -n 9 || { echo "Port 8995 on loopback is in use by a test run; try later."; exit 1; }
fi

"$build/fleet_bench" --file "$work/fw.bin" "$size"
"${run[@]}" "$build/drivesim" --ip "$FIRST_IP+132" --idle-timeout 120 --quiet \
  --drive "$SKIP_FIRST_IP+16" --holds "$work/fw.bin" >"$work/drive.log" 2>&1 &
drive_pid=$!
for _ in $(seq 100); do
  grep -q '^ready' "$work/drive.log" && break
  sleep 0.1
done
grep -q '^ready' "$work/drive.log" || { cat "$work/drive.log"; echo "drivesim did not start"; exit 1; }

"${run[@]}" "$build/fleet_bench" "$FIRST_IP" "$size" "${counts[@]}"
