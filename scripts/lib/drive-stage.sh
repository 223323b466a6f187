# The simulated drive on loopback, for the scripts that run the loader
# against it (scripts/demo, the valgrind gate, bench/session_bench.sh,
# bench/fleet_bench.sh). Sourced, not run; the caller has "set -euo pipefail".
#
#   stageUp WORK [IP [ARG...]]
#                        start the simulated drive at IP (default 127.0.0.2;
#                        "A+N" for N drives from address A) with drivesim's
#                        further ARGs, logging to WORK/drive.log, and wait
#                        until it is ready
#   inStage CMD...       run CMD where the drive is reachable
#   stageDown            stop the drive, remove the namespace (the caller's
#                        EXIT trap calls it)
#
# Where: as root, a private network namespace with only loopback up, so the
# runs never meet another program on port 8995; otherwise the machine's
# loopback, taken only when port 8995 is free there and no test run holds
# the shared lock. The drive also ends by itself after STAGE_IDLE seconds
# (default 60) without a datagram. DRIVESIM and TOVRIN name the programs
# (default: in $BUILD).
#
# The lock that every run sharing the machine's loopback takes. This line is
# its one definition: CMake reads it from here for the test kit (netlab).
TOVRIN_LOOPBACK_LOCK=/tmp/tovrin-loopback-8995.lock

stageNs=""
stageDrivePid=""
stageRun=()

stageDown() {
  if [ -n "$stageDrivePid" ]; then
    kill "$stageDrivePid" 2>/dev/null || true
    wait "$stageDrivePid" 2>/dev/null || true
    stageDrivePid=""
  fi
  if [ -n "$stageNs" ]; then
    ip netns del "$stageNs" 2>/dev/null || true
    stageNs=""
  fi
}

inStage() {
  "${stageRun[@]}" "$@"
}

stageUp() {
  local work=$1 ip=${2:-127.0.0.2}
  shift $(($# < 2 ? $# : 2))
  if [ "$(id -u)" = 0 ] && command -v ip >/dev/null && ip netns add "tvstage$$" 2>/dev/null; then
    stageNs="tvstage$$"
    ip netns exec "$stageNs" ip link set lo up
    stageRun=(ip netns exec "$stageNs")
    echo "Running in the private network namespace $stageNs (loopback only)."
  else
    # Tests that share loopback take this lock; any user may take it.
    if [ -e "$TOVRIN_LOOPBACK_LOCK" ]; then
      exec 9<"$TOVRIN_LOOPBACK_LOCK"
    else
      exec 9>"$TOVRIN_LOOPBACK_LOCK"
      chmod 0666 "$TOVRIN_LOOPBACK_LOCK" 2>/dev/null || true
    fi
    if ! flock -n 9; then
      echo "Port 8995 on loopback is in use by a test run (lock $TOVRIN_LOOPBACK_LOCK). Try again later."
      return 1
    fi
    if ss -Hlun 2>/dev/null | awk '{print $4}' |
      grep -Eq '^(127\.0\.0\.1|127\.0\.0\.2|0\.0\.0\.0|\*|\[::\]):8995$'; then
      echo "UDP port 8995 on loopback is busy (another loader or simulated drive is"
      echo "running). Stop it and try again."
      return 1
    fi
    echo "Running on loopback: the simulated drive at $ip."
  fi
  inStage "${DRIVESIM:-$BUILD/drivesim}" --ip "$ip" --idle-timeout "${STAGE_IDLE:-60}" "$@" \
    >"$work/drive.log" 2>&1 &
  stageDrivePid=$!
  local _
  for _ in $(seq 100); do
    grep -q '^ready' "$work/drive.log" && return 0
    kill -0 "$stageDrivePid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/drive.log"
  echo "The simulated drive did not start."
  return 1
}
