#!/usr/bin/env bash
# The benchmark in one command: installs what is missing, builds the release preset, prepares
# the files, starts Revuzada and the peer servers on loopback, runs W1-W5 and writes
# bench/README.md's table and bench/results.png. Options go to bench/bench.py, e.g.
#   bench/run.sh --quick            one round, fewer requests, README left alone
#   bench/run.sh --rounds 5 --unpinned
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --with-bench

# atftpd cannot be installed beside tftpd-hpa (the packages conflict): its package is unpacked
# into build/bench-tools and run from there. Its libraries come with --with-bench.
tools=build/bench-tools
if [ ! -x "$tools/atftpd/usr/sbin/atftpd" ]; then
  mkdir -p "$tools/download"
  if ! (cd "$tools/download" && apt-get download atftpd >/dev/null 2>&1); then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    (cd "$tools/download" && apt-get download atftpd >/dev/null)
  fi
  dpkg-deb -x "$tools"/download/atftpd_*.deb "$tools/atftpd"
fi

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target revuzada revuzada_bench_client language_packs

# Servers are stopped by bench.py; should it die, whatever it started is stopped here, by PID.
pids=$(mktemp)
cleanup() {
  while read -r pid; do
    kill -TERM "$pid" 2>/dev/null || true
  done <"$pids"
  rm -f "$pids"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Debian's Python, for the python3-matplotlib installed above.
/usr/bin/python3 bench/bench.py --pid-file "$pids" "$@"
