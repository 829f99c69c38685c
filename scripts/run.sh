#!/usr/bin/env bash
# Builds the release tree and runs the back-end program with the arguments given, inside its layout (the
# settings file and userdata/ beside the binary). JOBS sets the build's parallel jobs (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."

PROGRAM_DIR=build/release/program

bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${JOBS:-$(nproc)}"

cd "$PROGRAM_DIR"
exec "$PWD/virtualVEXA-D" "$@"
