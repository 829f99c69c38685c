#!/usr/bin/env bash
# Builds the release tree and runs the back-end program with the arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."

PROGRAM=build/release/main/vdback

bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

if [[ ! -x "$PROGRAM" ]]; then
    echo "The back-end program is not built yet: it comes with a later issue. The libraries and benchmarks are built in build/release."
    exit 0
fi
exec "$PROGRAM" "$@"
