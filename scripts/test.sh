#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds and runs every test: first the threaded suites under
# TSan, then all suites under ASan and UBSan. Exits non-zero on any failure. JOBS sets the parallel build jobs and
# test runs (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
jobs=${JOBS:-$(nproc)}

echo "== format: lib/, main/, tests/, bench/"
bash scripts/format.sh --check

echo "== tsan: threaded suites"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs"

echo "== default: all suites (ASan, UBSan)"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"
