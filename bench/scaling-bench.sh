#!/usr/bin/env bash
# How the cost grows on inputs made to make it grow faster than their size:
#   - the command line on one folder of 100,000 pages against one of 10,000 (CPU time per
#     page, one thread: 1 means linear, 10 quadratic);
#   - bench/scaling_bench.cpp: a page of repeated META keywords heads, and words chosen
#     to collide in the word table (see there).
#
#     bench/scaling-bench.sh BUILD_DIR
#
# BUILD_DIR holds a finished build; the trees and the benchmark program go to
# BUILD_DIR/bench-data/wide and BUILD_DIR/bench-tools.
set -euo pipefail
export LC_ALL=C

[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 1; }
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(realpath -m -- "$1")
CLI=$BUILD/bin/vantrelindexer-cli
[ -x "$CLI" ] && [ -f "$BUILD/engine/libvantrel_engine.a" ] || { echo "$0: build first" >&2; exit 1; }
mkdir -p "$BUILD/bench-tools" "$BUILD/bench-data/wide"

c++ -std=c++17 -O2 -I"$ROOT/engine/include" -I"$ROOT/engine/files" -I"$ROOT/engine/formats" -I"$ROOT/engine/job" -I"$ROOT/engine/pages" -I"$ROOT/engine/words" "$ROOT/bench/scaling_bench.cpp" \
    "$BUILD/engine/libvantrel_engine.a" -lboost_regex -pthread -o "$BUILD/bench-tools/scaling_bench"
"$BUILD/bench-tools/scaling_bench"

for count in 10000 100000; do
    tree=$BUILD/bench-data/wide/$count
    if [ ! -f "$tree/.complete" ]; then
        rm -rf "$tree" && mkdir -p "$tree/site"
        python3 - "$tree/site" "$count" <<'EOF'
import sys
for i in range(int(sys.argv[2])):
    with open(f"{sys.argv[1]}/p{i:06}.htm", "w") as f:
        f.write(f'<title>Page {i}</title><meta name="keywords" content="w{i} common">'
                f'<h1>Heading</h1><p>some text {i % 97}</p>')
EOF
        touch "$tree/.complete"
    fi
    rm -rf "$tree/out"
    /usr/bin/time -f '%U %S %e' -o "$tree/time" "$CLI" --quiet --threads 1 "$tree/site" "$tree/out"
    echo "$count $(cat "$tree/time")"
done | awk '{ pages[NR] = $1; cpu[NR] = $2 + $3
              printf "wide folder of %d pages: %.2f s CPU, %.2f s in all\n", $1, $2 + $3, $4 }
            END { printf "CPU per page, %d pages against %d: ratio %.2f\n", pages[2], pages[1],
                         (cpu[2] / pages[2]) / (cpu[1] / pages[1]) }'
