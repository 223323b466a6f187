# Shared by the gate scripts and scripts/test (sourced, not run). Each gate
# checks one thing from the repository root, in the build directories of the
# presets (CMakePresets.json: build/default, build/asan, build/tsan,
# build/tidy) and in build/cppcheck; it builds nothing. The gates' CTest run
# (cmake/gates.cmake, `ctest --preset gates`) configures and builds those
# trees, with warnings as errors, and runs the gates.
#   TOVRIN_JOBS   parallel compile and test jobs (default 2)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

JOBS="${TOVRIN_JOBS:-2}"
GATE_NAME="$(basename "$0")"
GATE_STARTED=$SECONDS

# Configures a preset's build with warnings as errors: configure PRESET [cmake args...]
configure() {
  local preset=$1
  shift
  cmake --preset "$preset" -DTOVRIN_WERROR=ON "$@" >/dev/null
}

# The C++ sources of the tree, tracked or new (never build output).
cxxSources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' |
      while read -r f; do [ -f "$f" ] && echo "$f"; done | sort -u
  else
    find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort
  fi
}

gatePassed() {
  echo "gate $GATE_NAME: passed in $((SECONDS - GATE_STARTED)) s"
}

gateFailed() {
  echo "gate $GATE_NAME: FAILED ($*) after $((SECONDS - GATE_STARTED)) s"
  exit 1
}
