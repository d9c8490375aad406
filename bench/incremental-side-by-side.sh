#!/usr/bin/env bash
# Two builds of the command line side by side on the cases of incremental-bench.sh, in the
# same rounds, so that the load of the machine weighs on both alike:
#
#     bench/incremental-side-by-side.sh BEFORE_BUILD_DIR AFTER_BUILD_DIR SITE
#
# The site is copied into a private temporary folder; each build has its own cache (in a
# private XDG_CACHE_HOME there) and its own destination. ROUNDS rounds (default 4), each:
# the largest page edited, then each build runs; a page of the median size edited, each
# runs; nothing changed, each runs; that page touched, each runs; the largest page's time
# moved to another day, each runs; the whole site copied afresh (new inodes, times now),
# each runs; then each reads every page (--no-cache) into a destination of its own that
# holds the last round's output (the full run every case is set against: it writes only
# the pieces that changed, as a run with the cache does, and as incremental-bench.sh's
# full run does); then each reads every page into an empty folder (a first run: every
# piece created and the file system flushed, none of which an edited run pays for),
# whose files must all be in its cached destination with the same bytes, and the two
# builds' outputs must be the same. Prints a Markdown table of medians: CPU seconds (user
# + system) and wall seconds of each build, and each case against the build's own full
# run, measured in the same rounds.
set -euo pipefail
export LC_ALL=C

[ $# -eq 3 ] || { echo "usage: $0 BEFORE_BUILD_DIR AFTER_BUILD_DIR SITE" >&2; exit 2; }
CLI[0]=$(realpath -- "$1")/bin/vantrelindexer-cli
CLI[1]=$(realpath -- "$2")/bin/vantrelindexer-cli
SITE=$(realpath -- "$3")
ROUNDS=${ROUNDS:-4}
for cli in "${CLI[@]}"; do [ -x "$cli" ] || { echo "no $cli" >&2; exit 2; }; done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-side-by-side-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -m 700 "$WORK/cache0" "$WORK/cache1"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cp -a "$SITE" "$WORK/site"
PAGE=$(find "$WORK/site" -type f -iname '*.htm*' -printf '%s %p\n' | sort -n | tail -n 1 | cut -d' ' -f2-)
TYPICAL=$(find "$WORK/site" -type f -iname '*.htm*' -printf '%s %p\n' | sort -k1,1n -k2 \
    | awk '{ line[NR] = $0 } END { print line[int((NR + 1) / 2)] }' | cut -d' ' -f2-)
[ -n "$PAGE" ] || { echo "no page under $SITE" >&2; exit 2; }

# run BUILD CASE [OPTION...]: one run of build 0 or 1, its figures appended to WORK/CASE-BUILD.
run() {
    local build=$1 case=$2
    shift 2
    local out=$WORK/out$build
    [ "$case" = full ] && out=$WORK/kept$build
    [ "$case" = fresh ] && out=$WORK/fresh$build
    local start=$EPOCHREALTIME
    XDG_CACHE_HOME=$WORK/cache$build /usr/bin/time -f '%U %S' -o "$WORK/time" "${CLI[$build]}" --quiet "$@" "$WORK/site" "$out"
    local end=$EPOCHREALTIME
    read -r user system <"$WORK/time"
    echo "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" \
        >>"$WORK/$case-$build"
}

# both CASE [OPTION...]: each build runs, the first alternating from round to round. Whichever
# runs second after a pause comes out faster here (about a fifth on an edit, measured with the
# builds swapped), so a fixed order would favour one build: use an even number of ROUNDS.
both() {
    if (( round % 2 )); then run 0 "$@"; run 1 "$@"; else run 1 "$@"; run 0 "$@"; fi
}

for build in 0 1; do  # the caches filled, the site in the page cache
    XDG_CACHE_HOME=$WORK/cache$build "${CLI[$build]}" --quiet "$WORK/site" "$WORK/out$build"
    "${CLI[$build]}" --quiet --no-cache "$WORK/site" "$WORK/kept$build"
done
sleep 2
for round in $(seq "$ROUNDS"); do
    printf '<p>edited in round %s: zzround%s</p>\n' "$round" "$round" >>"$PAGE"
    sleep 2
    both one
    printf '<p>edited in round %s: zztypical%s</p>\n' "$round" "$round" >>"$TYPICAL"
    sleep 2
    both typical
    both none
    touch "$TYPICAL"
    sleep 2
    both touched
    touch -d "@$(( $(date +%s) - 86400 * (round + 1) ))" "$PAGE"
    sleep 2
    both redated
    cp -a --no-preserve=timestamps "$WORK/site" "$WORK/site.copy"
    rm -rf "$WORK/site"
    mv "$WORK/site.copy" "$WORK/site"
    sleep 2
    both copied
    both full --no-cache
    rm -rf "$WORK/fresh0" "$WORK/fresh1"
    sleep 2
    both fresh --no-cache
    # Every file of a run into an empty folder is in the cached destination with the same
    # bytes (which also keeps the pieces of the index before, for pages still open on it).
    for build in 0 1; do
        if diff -r -q "$WORK/fresh$build" "$WORK/out$build" | grep -v "^Only in $WORK/out$build/indexed_text: " >&2; then
            echo "round $round: build $build's cached output differs" >&2
            exit 1
        fi
    done
    # The builds may differ by design (search.js, a changed store): say so, and go on.
    diff -r -q "$WORK/fresh0" "$WORK/fresh1" >&2 || echo "round $round: the builds' outputs differ (above)" >&2
    echo "round $round done" >&2
done

column() { awk -v c="$2" '{ print $c }' "$WORK/$1" | median; }
echo "| case | CPU s before | CPU s after | after / before | wall s before | wall s after | CPU / full run's, before | after | wall / full run's, before | after |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for case in one typical none touched redated copied full fresh; do
    case $case in
        one) what="the largest page edited" ;;
        typical) what="a typical page edited" ;;
        none) what="nothing changed" ;;
        touched) what="a page touched within the day" ;;
        redated) what="a page's date moved, its bytes kept" ;;
        copied) what="the whole site copied afresh" ;;
        full) what="every page read (--no-cache)" ;;
        fresh) what="every page read into an empty folder" ;;
    esac
    c0=$(column "$case-0" 1); c1=$(column "$case-1" 1); w0=$(column "$case-0" 2); w1=$(column "$case-1" 2)
    f0=$(column full-0 1); f1=$(column full-1 1); fw0=$(column full-0 2); fw1=$(column full-1 2)
    awk -v what="$what" -v c0="$c0" -v c1="$c1" -v w0="$w0" -v w1="$w1" -v f0="$f0" -v f1="$f1" -v fw0="$fw0" -v fw1="$fw1" \
        'BEGIN { printf "| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.3f | %.3f | %.3f | %.3f |\n", what, c0, c1, c1 / c0, w0, w1, c0 / f0, c1 / f1, w0 / fw0, w1 / fw1 }'
done
