#!/usr/bin/env bash
# Indexing again after one page changed, with the page cache, against a run that reads
# every page (--no-cache), on a copy of a site:
#
#     bench/incremental-bench.sh BUILD_DIR SITE
#
# SITE: e.g. openjdk-17-doc's API (10,140 pages). The site is copied into a private
# temporary folder (two pages of the copy are edited each round) and the cache lives in a
# private XDG_CACHE_HOME there, never in the user's own. ROUNDS rounds (default 3), each
# case in turn into the same destination, as a writer's loop does:
#   full     every page read (--no-cache);
#   filling  a new, empty cache filled (the first run of a loop);
#   one      the largest page edited since the last run, with the cache;
#   typical  a page of the median size edited since the last run, with the cache;
#   none     nothing changed, with the cache;
#   touched  the page of typical size touched (its time moved within the day), with the cache;
#   redated  the largest page's time moved to another day, its bytes kept, with the cache;
#   copied   the whole site copied afresh (new inodes, its files' times now), with the cache.
# Prints a Markdown table of medians: wall seconds, CPU seconds (user + system), peak
# resident MiB, and each case's CPU against the full run's, measured in the same rounds.
set -euo pipefail
export LC_ALL=C

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SITE" >&2; exit 2; }
CLI=$(realpath -- "$1")/bin/vantrelindexer-cli
SITE=$(realpath -- "$2")
ROUNDS=${ROUNDS:-3}
[ -x "$CLI" ] || { echo "no $CLI" >&2; exit 2; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-incremental-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -m 700 "$WORK/cache"
export XDG_CACHE_HOME=$WORK/cache

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cp -a "$SITE" "$WORK/site"
# The page edited: the largest one, so that its words reach many lists.
PAGE=$(find "$WORK/site" -type f -iname '*.htm*' -printf '%s %p\n' | sort -n | tail -n 1 | cut -d' ' -f2-)
[ -n "$PAGE" ] || { echo "no page under $SITE" >&2; exit 2; }
# And a page of typical size: the median by size, ties broken by path, so that every run
# of the bench on a site edits the same one.
TYPICAL=$(find "$WORK/site" -type f -iname '*.htm*' -printf '%s %p\n' | sort -k1,1n -k2 \
    | awk '{ line[NR] = $0 } END { print line[int((NR + 1) / 2)] }' | cut -d' ' -f2-)
PAGES=$(find "$WORK/site" -type f -iname '*.htm*' | wc -l)
echo "edited: the largest page $(stat -c %s "$PAGE") bytes, a typical one $(stat -c %s "$TYPICAL") bytes" >&2

# run CASE ROUND [OPTION...]: one run, its figures appended to WORK/CASE.
run() {
    local case=$1 round=$2
    shift 2
    local start=$EPOCHREALTIME
    /usr/bin/time -f '%U %S %M' -o "$WORK/time" "$CLI" --quiet "$@" "$WORK/site" "$WORK/out"
    local end=$EPOCHREALTIME
    read -r user system kilobytes <"$WORK/time"
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $((kilobytes / 1024))" \
        >>"$WORK/$case"
    echo "round $round: $case done" >&2
}

"$CLI" --quiet --no-cache "$WORK/site" "$WORK/out"  # warm-up: the site in the page cache
for round in $(seq "$ROUNDS"); do
    run full "$round" --no-cache
    rm -rf "$WORK/cache/vantrelindexer"
    run filling "$round"
    printf '<p>edited in round %s: zzround%s</p>\n' "$round" "$round" >>"$PAGE"
    run one "$round"
    printf '<p>edited in round %s: zztypical%s</p>\n' "$round" "$round" >>"$TYPICAL"
    run typical "$round"
    run none "$round"
    touch "$TYPICAL"
    run touched "$round"
    touch -d "@$(( $(date +%s) - 86400 * (round + 1) ))" "$PAGE"
    run redated "$round"
    cp -a --no-preserve=timestamps "$WORK/site" "$WORK/site.copy"
    rm -rf "$WORK/site"
    mv "$WORK/site.copy" "$WORK/site"
    run copied "$round"
done

column() { awk -v c="$2" '{ print $c }' "$WORK/$1" | median; }
FULL_CPU=$(column full 2)
echo "| $PAGES pages | wall s | CPU s | peak MiB | CPU / full run's |"
echo "|---|---:|---:|---:|---:|"
for case in full filling one typical none touched redated copied; do
    cpu=$(column "$case" 2)
    case $case in
        full) what="every page read (--no-cache)" ;;
        filling) what="first run, filling an empty cache" ;;
        one) what="the largest page edited, with the cache" ;;
        typical) what="a typical page edited, with the cache" ;;
        none) what="nothing changed, with the cache" ;;
        touched) what="a page touched within the day, with the cache" ;;
        redated) what="a page's date moved, its bytes kept, with the cache" ;;
        copied) what="the whole site copied afresh, with the cache" ;;
    esac
    printf '| %s | %.2f | %.2f | %d | %.2f |\n' "$what" "$(column "$case" 1)" "$cpu" "$(column "$case" 3)" \
        "$(awk -v a="$cpu" -v b="$FULL_CPU" 'BEGIN { print a / b }')"
done
