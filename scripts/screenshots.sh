#!/bin/sh
# Takes screenshots of the wizard's four pages under Xvfb into docs/screenshots/: the
# wizard walks itself through the pages (a hidden switch), indexing examples/site into
# a scratch folder, and saves each page's window as it looks.
# Usage: scripts/screenshots.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
program=$build/bin/vantrelindexer
[ -x "$program" ] || { echo "No $program: build first (make build)." >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (Debian package xvfb)." >&2; exit 1; }

# A fixed scratch name, so that step 2 looks the same every time.
scratch=/tmp/vantrelindexer-screenshots/site-index
rm -rf /tmp/vantrelindexer-screenshots
mkdir -p "$scratch"
trap 'rm -rf /tmp/vantrelindexer-screenshots' EXIT INT TERM
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$program" --screenshots docs/screenshots examples/site "$scratch"
ls docs/screenshots/*.png
