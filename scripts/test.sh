#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest: once
# in a normal build (build/) and once with AddressSanitizer and UBSan
# (build-asan/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
jobs=$(nproc)

echo "== build (warnings are errors)" >&2
"$top/scripts/build.sh" build -DOSSEL_WERROR=ON
echo "== tests" >&2
ctest --test-dir "$top/build" --output-on-failure --parallel "$jobs"

echo "== sanitizer build (ASan + UBSan)" >&2
"$top/scripts/build.sh" build-asan -DOSSEL_SANITIZE=ON -DOSSEL_WERROR=ON
echo "== sanitizer tests" >&2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$top/build-asan" --output-on-failure --parallel "$jobs"
