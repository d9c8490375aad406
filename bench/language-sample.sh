#!/usr/bin/env bash
# The detected language of every page of real sites by the first 4 KiB of its text and
# by the engine's rule (the first KiB when it is wholly in one language): pages whose
# language changes, and the detector's CPU either way (bench/language_sample.cpp).
#
#     bench/language-sample.sh BUILD_DIR [--sample BYTES --percent P [--ends | --then-engine]] SITE...
#
# With --sample, another first sample and share are tried beside the engine's rule
# (--ends: the sample that ends at 4 KiB must agree too; --then-engine: a sample the
# detector is not sure of falls back to the engine's rule, not to 4 KiB).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR [--sample BYTES --percent P [--ends | --then-engine]] SITE..." >&2; exit 2; }
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(realpath -m -- "$1")
shift
[ -f "$BUILD/engine/libvantrel_engine.a" ] || { echo "$0: build first" >&2; exit 1; }
mkdir -p "$BUILD/bench-tools"
c++ -std=c++17 -O2 -I"$ROOT/engine/include" -I"$ROOT/engine/pages" -I"$ROOT/engine/words" "$ROOT/bench/language_sample.cpp" \
    "$BUILD/engine/libvantrel_engine.a" -lcld2 -lstemmer $(pkg-config --libs icu-uc icu-i18n libxxhash) -lboost_regex -pthread \
    -o "$BUILD/bench-tools/language_sample"
"$BUILD/bench-tools/language_sample" "$@"
