#!/usr/bin/env bash
# Configures (when needed) and builds the project.
#   scripts/build.sh [build-dir] [extra cmake -D options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
case "$dir" in /*) ;; *) dir="$top/$dir" ;; esac
if [ ! -f "$dir/CMakeCache.txt" ] || [ $# -gt 0 ]; then
  cmake -S "$top" -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" --parallel "$(nproc)" -- --no-print-directory >/dev/null 2>"$dir/build-errors.log" || {
  cat "$dir/build-errors.log" >&2
  exit 1
}
