#!/usr/bin/env bash
# Formats the C++ sources of lib/, main/, tests/ and bench/ with the root .clang-format, or with --check only
# reports the files that differ (exit 1 when any does).
# Usage: scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
    'lib/*.h' 'lib/*.cpp' 'main/*.h' 'main/*.cpp' 'tests/*.h' 'tests/*.cpp' 'bench/*.h' 'bench/*.cpp')
if [[ ${#files[@]} -eq 0 ]]; then
    exit 0
fi
if [[ "${1:-}" == "--check" ]]; then
    if ! clang-format --dry-run --Werror "${files[@]}"; then
        echo "format: the files above differ from .clang-format; run scripts/format.sh"
        exit 1
    fi
    exit 0
fi
clang-format -i "${files[@]}"
