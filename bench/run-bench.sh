#!/usr/bin/env bash
# Benchmark of the command line on a real documentation site, side by side with
# Pagefind and with a baseline that only reads every page once.
#
#     bench/run-bench.sh BUILD_DIR
#
# BUILD_DIR holds a finished build (BUILD_DIR/bin/vantrelindexer-cli). The benchmark
# trees, Pagefind and the baseline program are fetched or built under BUILD_DIR
# (bench-data, bench-tools), outputs and raw timings go to BUILD_DIR/bench-out, and the
# table is printed and written to bench/RESULTS.md.
#
# Every case is timed in rounds: one warm-up round, then RUNS rounds (default 5) in which
# each case runs in turn (a short case several times), so that other work on the machine
# weighs on all cases alike. Wall time from the shell's microsecond clock, CPU (user +
# system) and peak resident memory from /usr/bin/time; the table holds medians.
set -euo pipefail
export LC_ALL=C

RUNS=${RUNS:-5}
PAGEFIND_VERSION=1.6.0
DOC_PACKAGE=python3.11-doc
DOC_SUBTREE=usr/share/doc/python3.11/html
# A second documentation site for the ratios that must hold on more than one site.
DOC2_PACKAGE=git-doc
DOC2_SUBTREE=usr/share/doc/git-doc
CONTENT_OPTIONS=(all keywords titles headers)

die() { echo "run-bench: $*" >&2; exit 1; }
note() { echo "run-bench: $*" >&2; }

[ $# -eq 1 ] || die "usage: $0 BUILD_DIR"
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(realpath -m -- "$1")
CLI=$BUILD/bin/vantrelindexer-cli
[ -x "$CLI" ] || die "no $CLI; build first (make build BUILD=$1)"
DATA=$BUILD/bench-data
TOOLS=$BUILD/bench-tools
OUT=$BUILD/bench-out
RESULTS=$ROOT/bench/RESULTS.md
TREE=$DATA/$DOC_PACKAGE/$DOC_SUBTREE
TREE2=$DATA/$DOC2_PACKAGE/$DOC2_SUBTREE
TREE4=$DATA/$DOC_PACKAGE-x4
SUDO=$([ "$(id -u)" -eq 0 ] || echo sudo)
apt_updated=false

apt_install() {
    if ! $apt_updated; then
        $SUDO apt-get update -qq
        apt_updated=true
    fi
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# Commands this script runs, with the Debian package of each.
ensure_tools() {
    local missing=() pair
    for pair in /usr/bin/time:time node:nodejs npm:npm cc:gcc cmp:diffutils \
                dpkg-deb:dpkg find:findutils awk:mawk; do
        command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        note "installing ${missing[*]}"
        apt_install "${missing[@]}"
    fi
}

# A documentation tree from its Debian package, unpacked under DATA/PACKAGE.
fetch_package() {
    local package=$1 unpacked=$DATA/$1
    if [ ! -f "$unpacked/.complete" ]; then
        note "fetching $package"
        rm -rf "$unpacked" "$DATA/download"
        mkdir -p "$DATA/download"
        if ! (cd "$DATA/download" && apt-get download -q "$package" 2>/dev/null); then
            $SUDO apt-get update -qq
            apt_updated=true
            (cd "$DATA/download" && apt-get download -q "$package") || die "cannot download $package"
        fi
        local deb
        deb=$(ls "$DATA"/download/*.deb | head -n 1)
        dpkg -x "$deb" "$unpacked"
        dpkg-deb -f "$deb" Version >"$unpacked/.version"
        rm -rf "$DATA/download"
        touch "$unpacked/.complete"
    fi
}

# The two documentation trees, and the first one 4 times side by side.
fetch_trees() {
    fetch_package "$DOC_PACKAGE"
    fetch_package "$DOC2_PACKAGE"
    [ -d "$TREE" ] || die "no $TREE in $DOC_PACKAGE"
    [ -d "$TREE2" ] || die "no $TREE2 in $DOC2_PACKAGE"
    if [ ! -f "$TREE4/.complete" ]; then
        note "making the 4-copies tree"
        rm -rf "$TREE4"
        mkdir -p "$TREE4"
        for i in 1 2 3 4; do
            cp -a "$TREE" "$TREE4/copy$i"
        done
        touch "$TREE4/.complete"
    fi
}

PAGEFIND=
PAGEFIND_KIND="the native linux-x64 program"
install_pagefind() {
    local installed=
    [ -f "$TOOLS/node_modules/pagefind/package.json" ] &&
        installed=$(node -p "require('$TOOLS/node_modules/pagefind/package.json').version")
    if [ "$installed" != "$PAGEFIND_VERSION" ]; then
        note "installing Pagefind $PAGEFIND_VERSION from npm"
        mkdir -p "$TOOLS"
        [ -f "$TOOLS/package.json" ] || echo '{"private": true}' >"$TOOLS/package.json"
        npm install --prefix "$TOOLS" --no-audit --no-fund --loglevel=error --save-exact \
            "pagefind@$PAGEFIND_VERSION" "@pagefind/linux-x64@$PAGEFIND_VERSION" >/dev/null
    fi
    # The native program itself, the one the npm wrapper would start, so that the
    # figures are not those of the wrapper.
    local name
    for name in pagefind_extended pagefind; do
        PAGEFIND=$TOOLS/node_modules/@pagefind/linux-x64/bin/$name
        [ -x "$PAGEFIND" ] && return
    done
    PAGEFIND=$TOOLS/node_modules/.bin/pagefind
    [ -x "$PAGEFIND" ] || die "Pagefind did not install"
    PAGEFIND_KIND="the npm wrapper"
}

BASELINE=$TOOLS/read-baseline
build_baseline() {
    mkdir -p "$TOOLS"
    if [ ! -x "$BASELINE" ] || [ "$ROOT/bench/read-baseline.c" -nt "$BASELINE" ]; then
        cc -O2 -o "$BASELINE" "$ROOT/bench/read-baseline.c"
    fi
}

# Pages (names holding ".htm" in any case) and their bytes under a folder, links followed.
count_pages() { find -L "$1" -type f -iname '*.htm*' | wc -l; }
count_bytes() { find -L "$1" -type f -iname '*.htm*' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }

calc() { awk "BEGIN { printf \"$1\", $2 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A WALL CPU MEM PAGES BYTES LABEL COUNT COMMAND REPEAT
CASES=()

# add_case NAME LABEL PAGES BYTES COMMAND...
add_case() {
    local name=$1
    CASES+=("$name")
    LABEL[$name]=$2
    PAGES[$name]=$3
    BYTES[$name]=$4
    shift 4
    COMMAND[$name]=$(printf '%q ' "$@")
}

# Runs a case once; appends its wall seconds to NAME.wall and "user system KiB" to NAME.time.
run_case() {
    local name=$1 start end
    start=$EPOCHREALTIME
    eval "/usr/bin/time -f '%U %S %M' -a -o \"\$OUT/times/$name.time\" ${COMMAND[$name]}" \
        >/dev/null 2>>"$OUT/bench.log" || die "${LABEL[$name]} failed; see $OUT/bench.log"
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }' >>"$OUT/times/$name.wall"
}

measure_all() {
    local name round i
    note "warm-up round"
    for name in "${CASES[@]}"; do
        run_case "$name"
        # Short cases run several times a round, up to about half a second.
        REPEAT[$name]=$(awk '{ n = int(0.5 / $1) } END { print (n < 1 ? 1 : (n > 5 ? 5 : n)) }' "$OUT/times/$name.wall")
        : >"$OUT/times/$name.wall"
        : >"$OUT/times/$name.time"
    done
    for ((round = 1; round <= RUNS; ++round)); do
        note "round $round of $RUNS"
        for name in "${CASES[@]}"; do
            for ((i = 0; i < ${REPEAT[$name]}; ++i)); do
                run_case "$name"
            done
        done
    done
    for name in "${CASES[@]}"; do
        COUNT[$name]=$(wc -l <"$OUT/times/$name.wall")
        [ "${COUNT[$name]}" -gt 0 ] || die "no timings of ${LABEL[$name]}"
        WALL[$name]=$(median <"$OUT/times/$name.wall")
        CPU[$name]=$(awk '{ print $1 + $2 }' "$OUT/times/$name.time" | median)
        MEM[$name]=$(awk '{ print $3 / 1024 }' "$OUT/times/$name.time" | median)
    done
}

# Runs the command line into OUT/same/NAME with a progress log beside the index files.
index_into() {
    local name=$1 tree=$2
    shift 2
    rm -rf "$OUT/same/$name"
    mkdir -p "$OUT/same/$name"
    "$CLI" "$tree" "$OUT/same/$name/index" --quiet --log "$OUT/same/$name/progress.log" "$@" ||
        echo "exit status $? " >"$OUT/same/$name/failed"
}

# Compares the index files and progress lines of two runs; prints one report line.
IDENTICAL=true
compare_runs() {
    local what=$1 a=$2 b=$3 file differences=()
    for file in index/indexed_words.js index/indexed_docs.js progress.log failed; do
        if [ -e "$OUT/same/$a/$file" ] || [ -e "$OUT/same/$b/$file" ]; then
            if ! cmp -s "$OUT/same/$a/$file" "$OUT/same/$b/$file"; then
                differences+=("${file#index/} ($(cmp "$OUT/same/$a/$file" "$OUT/same/$b/$file" 2>&1 | head -n 1))")
            fi
        fi
    done
    if [ ${#differences[@]} -eq 0 ]; then
        echo "| $what | identical | $(stat -c %s "$OUT/same/$a/index/indexed_words.js") + $(stat -c %s "$OUT/same/$a/index/indexed_docs.js") bytes, $(wc -l <"$OUT/same/$a/progress.log") lines |"
    else
        IDENTICAL=false
        echo "| $what | **DIFFERENT** | ${differences[*]} |"
    fi
}

check_identity() {
    local option
    note "checking that every matcher and thread count writes the same bytes"
    for option in "${CONTENT_OPTIONS[@]}"; do
        index_into "$option" "$TREE" --content "$option"
        index_into "$option-library" "$TREE" --content "$option" --pattern-library
        index_into "$option-1thread" "$TREE" --content "$option" --threads 1
        compare_runs "$option: default vs --pattern-library" "$option" "$option-library"
        compare_runs "$option: default vs --threads 1" "$option" "$option-1thread"
    done
    index_into "all-x4" "$TREE4" --content all
    index_into "all-x4-1thread" "$TREE4" --content all --threads 1
    compare_runs "all, 4 copies: default vs --threads 1" "all-x4" "all-x4-1thread"
}

machine_description() {
    local model memory
    model=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
    memory=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
    echo "- Processors: $(nproc) ($model), memory $memory"
    echo "- System: $(uname -sr), Debian $(cat /etc/debian_version 2>/dev/null || echo '?')"
    echo "- Build: $(awk -F= '/^CMAKE_BUILD_TYPE:/ { print $2 }' "$BUILD/CMakeCache.txt" 2>/dev/null || echo '?'), $(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$BUILD/CMakeCache.txt" 2>/dev/null) ($(c++ --version 2>/dev/null | head -n 1))"
    echo "- Load average before the timings: $LOAD_BEFORE; after: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "- Processors free for this job, measured as the time of one single-threaded run against two side by side: $(calc %.2f "$CAPACITY") of $(nproc)"
    if awk "BEGIN { exit !(${LOAD_BEFORE%% *} >= 0.5 || $CAPACITY < $(nproc) - 0.3) }"; then
        echo "- The machine was busy with other processes: the figures that need a free second processor (all processors against one thread) are understated, and short runs wait for a processor."
    fi
}

passfail() { awk "BEGIN { print ($1) ? \"pass\" : \"**fail**\" }"; }

bytes_of() { [ -e "$1" ] && du -sb --apparent-size "$@" | awk '{ s += $1 } END { print s + 0 }' || echo 0; }
files_of() { find "$1" -type f | wc -l; }

# One row of the sizes table: SITE OURS OURS_PLAIN PAGEFIND
size_row() {
    local all=$2 plain=$3 peer=$4 page
    page=$(bytes_of "$all"/search.html "$all"/search.js "$all"/search_top.html "$all"/search.css)
    echo "| $1 | $(bytes_of "$all") ($(files_of "$all")) | $(bytes_of "$plain") ($(files_of "$plain")) | $(bytes_of "$all/indexed_words.js") | $(bytes_of "$all/indexed_docs.js") | $(bytes_of "$all/indexed_pages.js") | $(bytes_of "$all/indexed_terms.js") | $(bytes_of "$all/indexed_text") ($(files_of "$all/indexed_text")) | $page | $(bytes_of "$peer") ($(files_of "$peer")) | $(calc %.2f "$(bytes_of "$peer") / $(bytes_of "$all")") |"
}

report() {
    local pf=pagefind base=baseline all=cli-all name
    echo "# Benchmark: indexing a documentation site"
    echo
    echo "Made by \`bench/run-bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')$( [ -n "$(git -C "$ROOT" status --porcelain -- engine cli 2>/dev/null)" ] && echo ' (engine or command line with uncommitted changes)')."
    echo
    echo "- Tree: Debian \`$DOC_PACKAGE\` $(cat "$DATA/$DOC_PACKAGE/.version"), \`$DOC_SUBTREE\`: ${PAGES[$all]} pages, $(calc %.1f "${BYTES[$all]} / 1e6") MB; the 4-copies tree: ${PAGES[cli-all-x4]} pages, $(calc %.1f "${BYTES[cli-all-x4]} / 1e6") MB"
    echo "- Pagefind $PAGEFIND_VERSION (npm; $PAGEFIND_KIND, \`$(basename "$PAGEFIND")\`): \`--site TREE --output-path OUT\`; it reports ${PAGEFIND_PAGES:-?} pages indexed"
    echo "- Baseline: \`bench/read-baseline.c\`, reads every page whole and counts its \`<\` bytes, one thread"
    echo "- Medians of $RUNS rounds after one warm-up round (files in the page cache); in each round every case runs in turn, a short one several times (the runs column). Wall time from the shell's clock, CPU (user + system) and peak resident memory from \`/usr/bin/time\`. MB = 10^6 bytes of page files."
    machine_description
    echo
    echo "| case | runs | wall s | CPU s | peak MiB | pages/s | MB/s | Pagefind wall / wall | wall / baseline wall |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
    for name in "${CASES[@]}"; do
        local vspf="–" vsbase="–"
        case $name in
        cli-all-x4) ;;
        git-*) vspf=$(calc %.1f "${WALL[git-pagefind]} / ${WALL[$name]}") ;;
        *)
            vspf=$(calc %.1f "${WALL[$pf]} / ${WALL[$name]}")
            vsbase=$(calc %.1f "${WALL[$name]} / ${WALL[$base]}")
            ;;
        esac
        printf '| %s | %d | %.3f | %.2f | %.1f | %.0f | %.1f | %s | %s |\n' "${LABEL[$name]}" "${COUNT[$name]}" "${WALL[$name]}" \
            "${CPU[$name]}" "${MEM[$name]}" "$(calc %f "${PAGES[$name]} / ${WALL[$name]}")" \
            "$(calc %f "${BYTES[$name]} / 1e6 / ${WALL[$name]}")" "$vspf" "$vsbase"
    done
    echo
    echo "## Targets (\"All content\", medians of this run)"
    echo
    echo "| target | measured | bar | result |"
    echo "|---|---:|---:|---|"
    local speed slow memory scale threads
    speed=$(calc %.1f "${WALL[$pf]} / ${WALL[$all]}")
    slow=$(calc %.1f "${WALL[$all]} / ${WALL[$base]}")
    memory=$(calc %.1f "${MEM[$pf]} / ${MEM[$all]}")
    scale=$(calc %.2f "${WALL[cli-all-x4]} / ${WALL[$all]}")
    threads=$(calc %.2f "${WALL[cli-all-1thread]} / ${WALL[$all]}")
    echo "| faster than Pagefind (Pagefind wall / wall) | ${speed}x | at least 20x | $(passfail "$speed >= 20") |"
    echo "| cost over the read-and-count baseline (wall / baseline wall) | ${slow}x | at most 10x | $(passfail "$slow <= 10") |"
    echo "| peak memory (Pagefind's / ours) | ${memory}x less | at least 10x less | $(passfail "$memory >= 10") |"
    echo "| 4-copies tree (wall / single tree wall) | ${scale}x | at most 4.4x | $(passfail "$scale <= 4.4") |"
    echo "| 2 threads against 1 (1-thread wall / wall) | ${threads}x | at least 1.6x | $(passfail "$threads >= 1.6") |"
    echo "| output byte-identical to --pattern-library and --threads 1 | $($IDENTICAL && echo yes || echo no) | yes | $($IDENTICAL && echo pass || echo '**fail**') |"
    local companion companion2 speed2
    companion=$(calc %.2f "${WALL[$all]} / ${WALL[cli-all-plain]}")
    companion2=$(calc %.2f "${WALL[git-all]} / ${WALL[git-all-plain]}")
    speed2=$(calc %.1f "${WALL[git-pagefind]} / ${WALL[git-all]}")
    echo "| cost of the companion data, $DOC_PACKAGE (wall / --plain wall, each run over the last one's output) | ${companion}x | at most 1.5x | $(passfail "$companion <= 1.5") |"
    echo "| cost of the companion data, $DOC2_PACKAGE (wall / --plain wall) | ${companion2}x | at most 1.5x | $(passfail "$companion2 <= 1.5") |"
    echo "| cost of the companion data into an empty folder, $DOC_PACKAGE | $(calc %.2f "${WALL[cli-all-fresh]} / ${WALL[cli-all-fresh--plain]}")x | at most 1.5x | $(passfail "$(calc %.2f "${WALL[cli-all-fresh]} / ${WALL[cli-all-fresh--plain]}") <= 1.5") |"
    echo "| faster than Pagefind on $DOC2_PACKAGE | ${speed2}x | at least 20x | $(passfail "$speed2 >= 20") |"
    echo
    echo "The same in CPU seconds, which other processes on the machine disturb less than wall time: Pagefind CPU / CPU $(calc %.1f "${CPU[$pf]} / ${CPU[$all]}")x; 4-copies tree CPU / CPU $(calc %.2f "${CPU[cli-all-x4]} / ${CPU[$all]}")x; CPU / wall of the default run (processors kept busy) $(calc %.2f "${CPU[$all]} / ${WALL[$all]}")."
    echo
    echo "## Output identity"
    echo
    echo "Index files and progress log of each indexing option, by the scanners on all processors (default), by the pattern library (\`--pattern-library\`) and on one thread (\`--threads 1\`)."
    echo
    echo "| runs | result | size |"
    echo "|---|---|---|"
    cat "$OUT/identity.md"
    echo
    echo "## Size of everything written"
    echo
    echo "Bytes of every file each program wrote for the same site (\`du\` apparent sizes; files, in brackets)."
    echo
    echo "| site | ours, all | ours, --plain | of ours: indexed_words.js | indexed_docs.js | indexed_pages.js | indexed_terms.js | indexed_text/ | search page | Pagefind | Pagefind / ours |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    size_row "$DOC_PACKAGE" "$OUT/cli-all" "$OUT/cli-all-plain" "$OUT/pagefind"
    size_row "$DOC2_PACKAGE" "$OUT/git-all" "$OUT/git-all-plain" "$OUT/git-pagefind"
    if [ -n "$SCALING_ROWS" ]; then
        echo
        echo "## Growth on inputs made to make it grow"
        echo
        echo "\`bench/scaling-bench.sh\`: CPU per page or per byte against a normal input of the same size; 1 means the cost grows with the size, not faster."
        echo
        echo '```'
        echo "$SCALING_ROWS"
        echo '```'
    fi
    if [ -n "$INCREMENTAL_ROWS" ]; then
        echo
        echo "## Indexing again after one page changed"
        echo
        echo "\`bench/incremental-bench.sh\` on $INCREMENTAL_PACKAGE's API, a copy of it edited: medians of 3 rounds, each case in turn into the same destination; the last column is the case's CPU against the run that reads every page, in the same rounds."
        echo
        echo "$INCREMENTAL_ROWS"
    fi
    if [ -n "$LARGE_ROWS" ]; then
        echo
        echo "## Indexing a large site into an empty folder"
        echo
        echo "\`bench/large-site-bench.sh\` on $INCREMENTAL_PACKAGE's API: medians of 3 rounds, each case in turn, each run into a new empty folder (with its page cache); companion data against \`--plain\` and the peer in the same rounds."
        echo
        echo "$LARGE_ROWS"
    fi
    if [ -n "$SEARCH_PAGE_ROWS" ]; then
        echo
        echo "## Search page on the python-doc index"
        echo
        echo "$SEARCH_PAGE_ROWS"
    fi
    if [ -n "$FIRST_ROWS" ]; then
        echo
        echo "## First results on $INCREMENTAL_PACKAGE's API, against the peer"
        echo
        echo "Ours from disk (\`bench/search-page-bench.mjs\`), the peer over a local web server (\`bench/peer-first-results.mjs\`), the same queries in the same run, each on a fresh browser."
        echo
        echo "$FIRST_ROWS"
        echo
        echo "$PEER_FIRST_ROWS"
    fi
    if [ -n "$RANKING_ROWS" ]; then
        echo
        echo "## Ranking and results on reader queries"
        echo
        echo "\`bench/ranking-eval.mjs\`: the queries of \`bench/queries/\` (a tuning half and a held-out half per site) searched with the page's own code."
        echo
        echo "$RANKING_ROWS"
    fi
}

ensure_tools
fetch_trees
install_pagefind
build_baseline
rm -rf "$OUT"
mkdir -p "$OUT/times"

PAGES1=$(count_pages "$TREE")
BYTES1=$(count_bytes "$TREE")
PAGES2=$(count_pages "$TREE2")
BYTES2=$(count_bytes "$TREE2")
PAGES4=$(count_pages "$TREE4")
BYTES4=$(count_bytes "$TREE4")

check_identity >"$OUT/identity.md"
note "running Pagefind once for its own page count"
PAGEFIND_PAGES=$("$PAGEFIND" --site "$TREE" --output-path "$OUT/pagefind" 2>&1 |
    awk '/Indexed [0-9]+ pages/ { print $2 }' | head -n 1) || true

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
add_case cli-all "command line, all content" "$PAGES1" "$BYTES1" \
    "$CLI" "$TREE" "$OUT/cli-all" --content all --quiet
for option in keywords titles headers; do
    add_case "cli-$option" "command line, $option" "$PAGES1" "$BYTES1" \
        "$CLI" "$TREE" "$OUT/cli-$option" --content "$option" --quiet
done
add_case cli-all-1thread "command line, all content, --threads 1" "$PAGES1" "$BYTES1" \
    "$CLI" "$TREE" "$OUT/cli-all-1thread" --content all --threads 1 --quiet
add_case cli-all-library "command line, all content, --pattern-library" "$PAGES1" "$BYTES1" \
    "$CLI" "$TREE" "$OUT/cli-all-library" --content all --pattern-library --quiet
add_case cli-all-x4 "command line, all content, 4-copies tree" "$PAGES4" "$BYTES4" \
    "$CLI" "$TREE4" "$OUT/cli-all-x4" --content all --quiet
add_case cli-all-plain "command line, all content, --plain" "$PAGES1" "$BYTES1" \
    "$CLI" "$TREE" "$OUT/cli-all-plain" --content all --plain --quiet
# The same two into a new, empty folder each run: nothing of an earlier run to reuse.
# Their folders are removed after the timings; should an interrupted bench have left
# some, they go first and the timings wait half a minute, since some file systems make
# new files slowly while many were just removed (ext4 without a journal skips inodes
# freed in the last 30 s).
if [ -d "$OUT/fresh" ]; then
    rm -rf "$OUT/fresh"
    sleep 35
fi
mkdir -p "$OUT/fresh"
for plain in "" --plain; do
    add_case "cli-all-fresh$plain" "command line, all content$([ -z "$plain" ] || echo ", $plain"), into an empty folder" \
        "$PAGES1" "$BYTES1" bash -c 'exec "$0" "$1" "$(mktemp -d -p "$2")" --quiet "${@:3}"' \
        "$CLI" "$TREE" "$OUT/fresh" --content all $plain
done
add_case pagefind "Pagefind $PAGEFIND_VERSION" "$PAGES1" "$BYTES1" \
    "$PAGEFIND" --site "$TREE" --output-path "$OUT/pagefind"
add_case git-all "$DOC2_PACKAGE: command line, all content" "$PAGES2" "$BYTES2" \
    "$CLI" "$TREE2" "$OUT/git-all" --content all --quiet
add_case git-all-plain "$DOC2_PACKAGE: command line, all content, --plain" "$PAGES2" "$BYTES2" \
    "$CLI" "$TREE2" "$OUT/git-all-plain" --content all --plain --quiet
add_case git-pagefind "$DOC2_PACKAGE: Pagefind $PAGEFIND_VERSION" "$PAGES2" "$BYTES2" \
    "$PAGEFIND" --site "$TREE2" --output-path "$OUT/git-pagefind"
add_case baseline "baseline: read every page, count \`<\`" "$PAGES1" "$BYTES1" \
    "$BASELINE" "$TREE"
measure_all
rm -rf "$OUT/fresh"

# How many processors the job could have had: one single-threaded run against two run
# side by side (2.0 on an idle 2-processor machine, 1.0 when others hold a whole one).
measure_capacity() {
    local round start middle end
    for round in 1 2 3; do
        start=$EPOCHREALTIME
        "$CLI" "$TREE" "$OUT/capacity-1" --threads 1 --quiet
        middle=$EPOCHREALTIME
        "$CLI" "$TREE" "$OUT/capacity-1" --threads 1 --quiet &
        "$CLI" "$TREE" "$OUT/capacity-2" --threads 1 --quiet
        wait
        end=$EPOCHREALTIME
        awk -v a="$start" -v b="$middle" -v c="$end" 'BEGIN { print 2 * (b - a) / (c - b) }'
    done | median
}
note "measuring the processors free for a second thread"
CAPACITY=$(measure_capacity)

SCALING_ROWS=
if [ -x "$ROOT/bench/scaling-bench.sh" ]; then
    note "running bench/scaling-bench.sh"
    SCALING_ROWS=$("$ROOT/bench/scaling-bench.sh" "$BUILD" 2>>"$OUT/bench.log") ||
        SCALING_ROWS="bench/scaling-bench.sh failed; see $OUT/bench.log"
fi

# Indexing again after one page changed, with the page cache, on openjdk's API.
INCREMENTAL_PACKAGE=openjdk-17-doc
INCREMENTAL_SUBTREE=usr/share/doc/openjdk-17-jre-headless
INCREMENTAL_ROWS=
if [ -x "$ROOT/bench/incremental-bench.sh" ]; then
    fetch_package "$INCREMENTAL_PACKAGE"
    note "running bench/incremental-bench.sh"
    INCREMENTAL_ROWS=$("$ROOT/bench/incremental-bench.sh" "$BUILD" "$DATA/$INCREMENTAL_PACKAGE/$INCREMENTAL_SUBTREE" \
        2>>"$OUT/bench.log") || INCREMENTAL_ROWS="bench/incremental-bench.sh failed; see $OUT/bench.log"
fi

# The same API into an empty folder: companion data against --plain and the peer.
LARGE_ROWS=
if [ -x "$ROOT/bench/large-site-bench.sh" ]; then
    fetch_package "$INCREMENTAL_PACKAGE"
    note "running bench/large-site-bench.sh"
    LARGE_ROWS=$(PEER=$PAGEFIND "$ROOT/bench/large-site-bench.sh" "$BUILD" \
        "$DATA/$INCREMENTAL_PACKAGE/$INCREMENTAL_SUBTREE" 2>>"$OUT/bench.log") ||
        LARGE_ROWS="bench/large-site-bench.sh failed; see $OUT/bench.log"
fi

SEARCH_PAGE_ROWS=
if [ -f "$ROOT/bench/search-page-bench.mjs" ]; then
    note "running bench/search-page-bench.mjs"
    SEARCH_PAGE_ROWS=$(cd "$ROOT" && VANTREL_CLI=$CLI VANTREL_JS_DIR=$BUILD/bin/js \
        node bench/search-page-bench.mjs --site "$TREE" 2>>"$OUT/bench.log") ||
        SEARCH_PAGE_ROWS="bench/search-page-bench.mjs failed; see $OUT/bench.log"
fi

# First results on the same API from disk, against the peer's page over a local web
# server, in the same run: each indexes the site once, then the same queries are opened
# in fresh browsers.
FIRST_ROWS=
PEER_FIRST_ROWS=
if [ -f "$ROOT/bench/peer-first-results.mjs" ] && [ -n "$PAGEFIND" ]; then
    note "running the first results on $INCREMENTAL_PACKAGE's API"
    API=$DATA/$INCREMENTAL_PACKAGE/$INCREMENTAL_SUBTREE
    rm -rf "$OUT/api-index" "$OUT/api-peer"
    printf '%s\n' swingworker 'swingworker statevalue' inputmap over ervie ovreviews >"$OUT/api-queries"
    if XDG_CACHE_HOME=$OUT/cache "$CLI" --quiet "$API" "$OUT/api-index" 2>>"$OUT/bench.log" &&
        "$PAGEFIND" --site "$API" --output-path "$OUT/api-peer" >>"$OUT/bench.log" 2>&1; then
        FIRST_ROWS=$(cd "$ROOT" && node bench/search-page-bench.mjs "$OUT/api-index" "$OUT/api-queries" 2>>"$OUT/bench.log") ||
            FIRST_ROWS="bench/search-page-bench.mjs failed; see $OUT/bench.log"
        PEER_FIRST_ROWS=$(cd "$ROOT" && node bench/peer-first-results.mjs "$OUT/api-peer" "$OUT/api-queries" 2>>"$OUT/bench.log") ||
            PEER_FIRST_ROWS="bench/peer-first-results.mjs failed; see $OUT/bench.log"
    else
        FIRST_ROWS="indexing $INCREMENTAL_PACKAGE's API failed; see $OUT/bench.log"
    fi
fi

RANKING_ROWS=
if [ -f "$ROOT/bench/ranking-eval.mjs" ]; then
    note "running bench/ranking-eval.mjs"
    RANKING_ROWS=$(cd "$ROOT" && VANTREL_CLI=$CLI VANTREL_JS_DIR=$BUILD/bin/js \
        node bench/ranking-eval.mjs 2>>"$OUT/bench.log") ||
        RANKING_ROWS="bench/ranking-eval.mjs failed; see $OUT/bench.log"
fi

report >"$OUT/RESULTS.md"
# Sections measured by hand (see their text for how) are kept from the last results.
if [ -f "$RESULTS" ] && grep -q '^## Search page on hostile indexes' "$RESULTS"; then
    { echo; sed -n '/^## Search page on hostile indexes/,$p' "$RESULTS"; } >>"$OUT/RESULTS.md"
fi
cp "$OUT/RESULTS.md" "$RESULTS"
cat "$RESULTS"
