#!/usr/bin/env bash
# Indexing a large site into an empty folder, with the companion data against --plain,
# and what each writes against the peer's output for the same site:
#
#     bench/large-site-bench.sh BUILD_DIR SITE [PEER_OUTPUT]
#
# SITE: e.g. openjdk-17-doc's API (10,140 pages) or the tree of bench/make-large-tree.sh
# (98,007 pages). PEER_OUTPUT: the folder the peer wrote for the same site (its bytes and
# files are counted). With PEER=program (the peer's native program, as bench/run-bench.sh
# installs it under BUILD_DIR/bench-tools), the peer is timed in the same rounds.
# ROUNDS rounds (default 3), each case in turn, each run into a new empty folder; prints
# a Markdown table of medians: wall seconds, CPU seconds (user + system, then each apart:
# the kernel's share moves most with what the file system holds), peak resident
# MiB, files and bytes written into the destination, the bytes of the run's page cache,
# and the ratios. With BEFORE=program (another build's command line), a run of it with
# companion data and one with --plain are two more cases of each round. The page cache of each run is kept
# under the bench's own folder. The folders written stay until the last round has ended:
# some file systems make new files slowly while many were just removed (ext4 without a
# journal skips inodes freed in the last minute), which would bill a run for the files
# of the run before it.
set -euo pipefail
export LC_ALL=C

[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR SITE [PEER_OUTPUT]" >&2; exit 2; }
CLI=$(realpath -- "$1")/bin/vantrelindexer-cli
SITE=$(realpath -- "$2")
PEER_OUTPUT=${3:-}
ROUNDS=${ROUNDS:-3}
[ -x "$CLI" ] || { echo "no $CLI" >&2; exit 2; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-large-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
bytes_of() { du -sb --apparent-size "$1" | cut -f1; }
files_of() { find "$1" -type f | wc -l; }

LOAD_START=$(cut -d' ' -f1 /proc/loadavg)
CASES=(companion plain)
[ -n "${BEFORE:-}" ] && CASES+=(before before-plain)
[ -n "${PEER:-}" ] && CASES+=(peer)
for ((round = 1; round <= ROUNDS; ++round)); do
    for name in "${CASES[@]}"; do
        out=$(mktemp -d -p "$WORK")
        export XDG_CACHE_HOME=$out.cache  # one per run, so that its bytes are its own
        mkdir -m 700 "$XDG_CACHE_HOME"
        case $name in
        companion) command=("$CLI" --quiet "$SITE" "$out") ;;
        plain) command=("$CLI" --quiet --plain "$SITE" "$out") ;;
        before) command=("$BEFORE" --quiet "$SITE" "$out") ;;
        before-plain) command=("$BEFORE" --quiet --plain "$SITE" "$out") ;;
        peer) command=("$PEER" --site "$SITE" --output-path "$out/peer") ;;
        esac
        start=$EPOCHREALTIME
        /usr/bin/time -f '%U %S %M' -o "$WORK/time" "${command[@]}" >/dev/null 2>&1
        end=$EPOCHREALTIME
        read -r user system kib <"$WORK/time"
        echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $((kib / 1024)) $(files_of "$out") $(bytes_of "$out") $(bytes_of "$XDG_CACHE_HOME") $user $system" >>"$WORK/$name"
    done
done

column() { awk -v c="$2" '{ print $c }' "$WORK/$1" | median | awk '{ print ($1 == int($1)) ? $1 : sprintf("%.2f", $1) }'; }
echo "| case ($(find -L "$SITE" -type f -iname '*.htm*' | wc -l) pages, medians of $ROUNDS rounds) | wall s | CPU s | user s | system s | peak MiB | files | bytes | cache bytes |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
for name in "${CASES[@]}"; do
    echo "| $name | $(column "$name" 1) | $(column "$name" 2) | $(column "$name" 7) | $(column "$name" 8) | $(column "$name" 3) | $(column "$name" 4) | $(column "$name" 5) | $(column "$name" 6) |"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo
echo "- load average $LOAD_START at the start, $(cut -d' ' -f1 /proc/loadavg) at the end"
echo "- companion data / --plain: wall $(ratio "$(column companion 1)" "$(column plain 1)"), CPU $(ratio "$(column companion 2)" "$(column plain 2)") (at most 1.3 asked)"
if [ -n "${BEFORE:-}" ]; then
    echo "- companion data / the other build's: wall $(ratio "$(column companion 1)" "$(column before 1)"), CPU $(ratio "$(column companion 2)" "$(column before 2)"), system $(ratio "$(column companion 8)" "$(column before 8)"), peak $(ratio "$(column companion 3)" "$(column before 3)"); the other build with companion data / its --plain: CPU $(ratio "$(column before 2)" "$(column before-plain 2)"); --plain / the other build's: CPU $(ratio "$(column plain 2)" "$(column before-plain 2)")"
fi
if [ -n "${PEER:-}" ]; then
    echo "- peer / companion data: wall $(ratio "$(column peer 1)" "$(column companion 1)"), CPU $(ratio "$(column peer 2)" "$(column companion 2)") (at least 20 asked)"
fi
if [ -n "$PEER_OUTPUT" ]; then
    echo "- the peer's output for the site: $(files_of "$PEER_OUTPUT") files, $(bytes_of "$PEER_OUTPUT") bytes; ours with companion data: $(column companion 4) files, $(column companion 5) bytes ($(ratio "$(column companion 5)" "$(bytes_of "$PEER_OUTPUT")") of the peer's bytes)"
fi
