#!/usr/bin/env bash
# Builds Revuzada if needed and runs it. Arguments go to the program, e.g.
#   ./run.sh --headless --tftp-port 16969
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh --with-fonts
cmake --preset release >/dev/null
cmake --build --preset release
exec build/bin/revuzada "$@"
