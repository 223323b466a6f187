# Shared by the gate scripts (sourced, not run). Each gate works from the
# repository root, in build directories of its own:
#   TOVRIN_BUILD_PREFIX  prefix of the gates' build directories (default
#                        "build": build-asan, build-tsan, build-tidy; the
#                        valgrind gate uses the plain "build" itself)
#   TOVRIN_JOBS          parallel compile and test jobs (default 2)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

BUILD_PREFIX="${TOVRIN_BUILD_PREFIX:-build}"
JOBS="${TOVRIN_JOBS:-2}"
GATE_NAME="$(basename "$0")"
GATE_STARTED=$SECONDS

# The C++ sources of the tree, tracked or new (never build output).
cxxSources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' |
      while read -r f; do [ -f "$f" ] && echo "$f"; done | sort -u
  else
    find cli link discovery image session platform tools testkit bench \
      -name '*.cpp' -o -name '*.h' 2>/dev/null | sort
  fi
}

# Configures and builds a clang tree: clangBuild DIR [cmake args...]
clangBuild() {
  local dir=$1
  shift
  CXX=clang++ cmake -S . -B "$dir" -G Ninja -DTOVRIN_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

gatePassed() {
  echo "gate $GATE_NAME: passed in $((SECONDS - GATE_STARTED)) s"
}

gateFailed() {
  echo "gate $GATE_NAME: FAILED ($*) after $((SECONDS - GATE_STARTED)) s"
  exit 1
}
