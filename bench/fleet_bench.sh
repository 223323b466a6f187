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
BUILD=$build
source scripts/lib/drive-stage.sh

work=$(mktemp -d /tmp/tovrin-fleet-bench.XXXXXX)
trap 'stageDown; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

if ! { cmake -S . -B "$build" -G Ninja -DTOVRIN_BENCH=ON &&
  cmake --build "$build" --target fleet_bench drivesim; } >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  exit 1
fi

"$build/fleet_bench" --file "$work/fw.bin" "$size"
STAGE_IDLE=120 stageUp "$work" "$FIRST_IP+132" --quiet \
  --drive "$SKIP_FIRST_IP+16" --holds "$work/fw.bin" || exit 1

inStage "$build/fleet_bench" "$FIRST_IP" "$size" "${counts[@]}"
