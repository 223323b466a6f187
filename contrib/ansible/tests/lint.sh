#!/bin/sh
# ansible-lint over the collection (its configuration: .ansible-lint, offline).
# Fails on any violation, and on any warning but one: linted in place, the
# collection's own modules are mocked (.ansible-lint), and ansible-lint logs
# that it cannot resolve their names.
#   lint.sh CACHE_FOLDER
set -eu
collection=$(cd "$(dirname "$0")/.." && pwd)
cache=${1:?usage: lint.sh CACHE_FOLDER}
mkdir -p "$cache/home"
status=0
# A home of its own: Ansible's own start (ansible --version, which
# ansible-lint runs first) shares no folder with other Ansible runs beside it.
out=$(cd "$collection" && HOME="$cache/home" XDG_CACHE_HOME="$cache" ansible-lint --nocolor 2>&1) ||
  status=$?
printf '%s\n' "$out"
if [ "$status" != 0 ]; then
  # Why Ansible itself would not start, where that was the failure.
  if printf '%s\n' "$out" | grep -q 'working copy of ansible executable'; then
    (cd "$collection" && HOME="$cache/home" ansible --version) 2>&1 | tail -20
  fi
  exit "$status"
fi
if printf '%s\n' "$out" | grep WARNING | grep -v 'Unable to resolve FQCN for module tovrin\.plant\.'; then
  echo "ansible-lint warned (above)"
  exit 1
fi
