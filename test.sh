#!/usr/bin/env bash
# Builds every preset and runs its tests: release (every test), asan+ubsan (every test),
# tsan (the core's tests; Qt's libraries are not built for it), fuzz (each fuzz target for a few
# seconds; longer runs by hand with scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

presets=(release asan tsan fuzz)
[ $# -gt 0 ] && presets=("$@")

for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2
done
