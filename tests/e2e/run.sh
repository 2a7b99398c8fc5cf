#!/bin/sh
# Browser journeys through a running Quorwell.
#   tests/e2e/run.sh [path/to/quorwell [screenshot-dir [journey ...]]]
# Exits 77 (a skip for ctest) when Chromium or the npm packages are missing:
# scripts/bootstrap-e2e installs them.
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
quorwell=${1:-$repo/build/quorwell}
out=${2:-$(dirname "$quorwell")/e2e}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift

chromium=${QUOR_E2E_CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ] || ! command -v node >/dev/null 2>&1 || [ ! -d "$here/node_modules/playwright-core" ]; then
  echo "e2e: skipped: needs $chromium, node and tests/e2e/node_modules (run scripts/bootstrap-e2e)"
  exit 77
fi
if [ ! -x "$quorwell" ]; then
  echo "e2e: no server at $quorwell (build it first)" >&2
  exit 1
fi
exec node "$here/main.js" --quorwell "$quorwell" --out "$out" "$@"
