#!/usr/bin/env bash
# Builds every preset and runs its tests: release (every test), asan+ubsan (every test),
# tsan (the core's tests; Qt's libraries are not built for it).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

presets=(release asan tsan)
[ $# -gt 0 ] && presets=("$@")

for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2
done
