#!/usr/bin/env bash
# Builds presets and runs their suites several times with twice as many tests at once as there are cores, then
# lists every test that failed at least once. Exits non-zero when one did.
#   bash scripts/stress.sh [preset ...]   presets: default and tsan when none is given; optimized builds the
#                                         suites with -O2, where tests that count rounds instead of waiting break
#   RUNS   runs per preset (default 10)
#   JOBS   cores to build with (default: every core); tests run at twice that
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-10}
jobs=${JOBS:-$(nproc)}
presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(default tsan)
fi

bash scripts/deps.sh
report=$(mktemp -d)
status=0
# Each run gets a network namespace of its own where the machine allows it (root, unshare, ip): the program-binary
# suites need the fixed console port, which test runs of other checkouts on the machine would otherwise take. The
# namespace's own /sys shows its adapters to the suites that compare the adapter list with the kernel's.
isolate=()
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null && command -v ip >/dev/null &&
  unshare -n -m sh -c 'mount -t sysfs sysfs /sys' 2>/dev/null; then
  isolate=(unshare -n -m sh -c 'mount -t sysfs sysfs /sys && ip link set lo up && exec "$@"' isolate)
fi
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  failed="build/$preset/Testing/Temporary/LastTestsFailed.log"
  for run in $(seq 1 "$runs"); do
    rm -f "$failed"
    start=$(date +%s)
    if "${isolate[@]}" ctest --preset "$preset" -j $((2 * jobs)) >"$report/$preset.$run.log" 2>&1; then
      echo "== $preset run $run/$runs: passed in $(($(date +%s) - start)) s"
    else
      echo "== $preset run $run/$runs: FAILED in $(($(date +%s) - start)) s (log: $report/$preset.$run.log)"
      # Lines read "<number>:<test name>"; without the file nothing was run.
      if [ -f "$failed" ]; then
        sed "s/^[0-9]*:/$preset /" "$failed" >>"$report/failures"
      else
        echo "$preset <ctest ended without running its tests>" >>"$report/failures"
      fi
      status=1
    fi
  done
done

if [ -s "$report/failures" ]; then
  echo "== tests that failed at least once (preset, test, times):"
  sort "$report/failures" | uniq -c | awk '{ print "   " $2, $3, $1 }'
else
  echo "== no test failed in $runs runs of: ${presets[*]}"
fi
exit "$status"
