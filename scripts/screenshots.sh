#!/bin/sh
# Takes screenshots of the wizard's four pages under Xvfb into docs/screenshots/: a
# development tool walks the wizard through its pages, indexing examples/site into a
# scratch folder, and saves each page's window as it looks.
# Usage: scripts/screenshots.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || { echo "No $build: build first (make build)." >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (Debian package xvfb)." >&2; exit 1; }
cmake --build "$build" --target vantrel-screenshots >/dev/null

# A fixed scratch name, so that step 2 looks the same every time.
scratch=/tmp/vantrelindexer-screenshots/site-index
rm -rf /tmp/vantrelindexer-screenshots
mkdir -p "$scratch"
trap 'rm -rf /tmp/vantrelindexer-screenshots' EXIT INT TERM
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$build/bin/vantrel-screenshots" docs/screenshots examples/site "$scratch"
ls docs/screenshots/*.png
