#!/usr/bin/env bash
# Runs one fuzz target for a while:
#
#   scripts/fuzz.sh TARGET SECONDS
#
# TARGET is one of request, read_transfer, write_transfer, notify, language_pack, ini, format.
# Builds the fuzz preset (clang, AddressSanitizer, UndefinedBehaviorSanitizer) unless
# REVUZADA_FUZZ_BUILD names a build directory that has it, as the fuzz.<name> tests do.
# Starts from the committed seeds in fuzz/corpus/TARGET plus what earlier runs found in
# build-fuzz/corpus/TARGET, where new finds go too. A crash, a hang (10 s on one input) or a
# failed check stops the run with a non-zero status and leaves its input as
# build-fuzz/findings/TARGET-crash-*, -timeout-* or -leak-*; replay it with
#   build-fuzz/bin/fuzz_TARGET FILE
# Long runs by hand: one or two at a time, niced (nice -n 10 scripts/fuzz.sh request 600).
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 2 ] || { sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
target=$1
seconds=$2

build=${REVUZADA_FUZZ_BUILD:-$PWD/build-fuzz}
if [ -z "${REVUZADA_FUZZ_BUILD:-}" ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j2 --target "fuzz_$target"
fi
binary=$build/bin/fuzz_$target
[ -x "$binary" ] || { echo "no such fuzz target: $target ($binary)" >&2; exit 2; }

seeds=fuzz/corpus/$target
work=$build/corpus/$target
findings=$build/findings
mkdir -p "$work" "$findings"

# -runs bounds a run that the clock alone would let go on (a very fast target on a fast machine).
exec "$binary" "$work" "$seeds" \
  -max_total_time="$seconds" -runs=$((seconds * 200000)) \
  -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
  -artifact_prefix="$findings/$target-" -print_final_stats=1
