#!/usr/bin/env bash
# Installs what is missing, builds, and runs osselcli with the given
# arguments. Without arguments it optimizes the bundled sample into out.pdf.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" build
if [ $# -eq 0 ]; then
  set -- -o out.pdf "$top/examples/sample.pdf"
  echo "Optimizing the bundled sample: osselcli $*" >&2
fi
exec "$top/build/cli/osselcli" "$@"
