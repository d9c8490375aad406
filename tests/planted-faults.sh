#!/usr/bin/env bash
# Plants each fault of tests/{engine,web,wizard}/planted-faults.tsv in a fresh copy of the
# committed tree, builds what its test needs, runs that test and checks that it fails.
#
#     tests/planted-faults.sh [--check] [SUITE|ID...]
#
# SUITE is engine, web or wizard; with neither suites nor ids every row is planted.
# --check only says which rows still apply (no build, no test): a change to the code a
# row names leaves it without its text, and the row must be mended. The run fails when a
# row no longer applies, does not build, names a test that fails or finds nothing on the
# clean tree, or when its test passes with the fault in place.
# REV (default HEAD) is the commit unpacked; WORK_DIR, when set, keeps the work there.
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
suites=(engine web wizard)
check_only="" wanted=()
for arg; do
    case $arg in
    --check) check_only=1 ;;
    -h|--help) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) wanted+=("$arg") ;;
    esac
done

# The selected rows, as "suite<TAB>id<TAB>fault<TAB>file<TAB>change<TAB>test".
rows=()
for suite in "${suites[@]}"; do
    while IFS=$'\t' read -r id fault file change test; do
        [ "$id" = id ] || [ -z "$id" ] && continue
        if [ ${#wanted[@]} -gt 0 ] && [[ " ${wanted[*]} " != *" $suite "* && " ${wanted[*]} " != *" $id "* ]]; then
            continue
        fi
        rows+=("$suite"$'\t'"$id"$'\t'"$fault"$'\t'"$file"$'\t'"$change"$'\t'"$test")
    done <"$repo/tests/$suite/planted-faults.tsv"
done
[ ${#rows[@]} -gt 0 ] || { echo "planted-faults: no row matches ${wanted[*]}" >&2; exit 2; }

work=${WORK_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/vantrel-faults.XXXXXX")}
mkdir -p "$work" && [ -z "$(ls -A "$work")" ] || { echo "planted-faults: $work is not empty" >&2; exit 2; }
[ -n "${WORK_DIR:-}" ] || trap 'rm -rf "$work"' EXIT
tree=$work/tree build=$work/build
mkdir "$tree" && git -C "$repo" archive "${REV:-HEAD}" | tar -x -C "$tree" || exit 2

# Plants a row's change in the tree, keeping the file as it was in $work/saved. Fails
# when the file is missing or the change leaves it as it was.
plant() {  # FILE CHANGE
    [ -f "$tree/$1" ] && cp "$tree/$1" "$work/saved" && sed -i -e "$2" "$tree/$1" 2>"$work/sed.log" \
        && ! cmp -s "$tree/$1" "$work/saved"
}
unplant() { cp "$work/saved" "$tree/$1"; }

not_applied=()
if [ -n "$check_only" ]; then
    for row in "${rows[@]}"; do
        IFS=$'\t' read -r suite id fault file change test <<<"$row"
        if plant "$file" "$change"; then unplant "$file"; else not_applied+=("$row"); fi
    done
else
    wizard=OFF
    for row in "${rows[@]}"; do [[ $row == wizard$'\t'* ]] && wizard=ON; done
    # The browser test's npm package, as make web-deps installed it beside the repository.
    [ -d "$repo/tests/web/node_modules" ] && ln -s "$repo/tests/web/node_modules" "$tree/tests/web/node_modules"
    cmake -S "$tree" -B "$build" -DVANTREL_BUILD_WIZARD=$wizard >"$work/configure.log" 2>&1 \
        || { echo "planted-faults: the tree does not configure ($work/configure.log)" >&2; exit 2; }
fi

# The build targets a test needs.
targets_of() {  # TEST
    case $1 in
    engine_tests|hostile_stop_tests|cli_tests) echo "$1" ;;
    hostile_cli) echo vantrelindexer-cli ;;
    search_page_logic|search_page_words) echo search_page_files ;;
    search_page_pieces|search_page_browser) echo vantrelindexer-cli search_page_files ;;
    wizard.*) echo "${1#wizard.}" ;;
    *) return 1 ;;
    esac
}

# Runs one test (a ctest name and the part of it that the row names) in the tree; its
# output goes to LOG. Succeeds when it passes having run at least one case.
run_test() {  # NAME PART LOG
    local name=$1 part=$2 log=$3 ran status
    case $name in
    engine_tests|hostile_stop_tests|cli_tests)
        ran='^\[  PASSED  \] [1-9]|^\[  FAILED  \]'
        (cd "$build/tests" && prlimit --as=12000000000 timeout 900 "$build/bin/$name" --gtest_filter="$part") >"$log" 2>&1
        status=$? ;;
    hostile_cli)
        ran="^(PASS|FAIL) $part"
        timeout 900 python3 "$tree/tests/hostile/hostile_cli.py" --cli "$build/bin/vantrelindexer-cli" "$part" >"$log" 2>&1
        status=$? ;;
    search_page_logic|search_page_words|search_page_pieces|search_page_browser)
        local script=browser.test.mjs runner=()
        [ "$name" = search_page_logic ] && script=unit.test.mjs runner=(--test)
        [ "$name" = search_page_words ] && script=words.test.mjs runner=(--test)
        [ "$name" = search_page_pieces ] && script=pieces.test.mjs runner=(--test)
        ran='^# (pass|fail) [1-9]'
        # A row that names the test alone runs all of its cases.
        local pattern=(--test-name-pattern="$part")
        [ "$part" = "$name" ] && pattern=()
        (cd "$tree/tests/web" && VANTREL_CLI="$build/bin/vantrelindexer-cli" VANTREL_JS_DIR="$build/bin/js" \
            timeout 900 node "${runner[@]}" --test-reporter=tap "${pattern[@]}" "$script") >"$log" 2>&1
        status=$? ;;
    wizard.*)
        ran='^Totals: ([1-9][0-9]* passed|[0-9]+ passed, [1-9])'
        (cd "$build/bin" && QT_QPA_PLATFORM=offscreen timeout 900 "./${name#wizard.}" "$part") >"$log" 2>&1
        status=$? ;;
    esac
    # A test that ends without a word of its cases ran none, unless it failed (a crash
    # counts); 77 is a skipped browser test.
    if ! grep -Eq "$ran" "$log" && { [ $status -eq 0 ] || [ $status -eq 77 ]; }; then
        return 125
    fi
    return $status
}

build() {  # LOG TARGET...
    local log=$1 && shift
    cmake --build "$build" -j "${JOBS:-2}" --target "$@" >"$log" 2>&1
}

failed=()
if [ -z "$check_only" ]; then
    # Every test a row names must pass on the clean tree first.
    declare -A baseline=()
    for row in "${rows[@]}"; do
        IFS=$'\t' read -r suite id fault file change test <<<"$row"
        [ -n "${baseline[$test]:-}" ] && continue
        name=${test%% *} part=${test#* } log="$work/clean-${test//[^A-Za-z0-9]/_}.log"
        if ! targets=$(targets_of "$name"); then baseline[$test]="names no known test"
        elif ! build "$log" $targets; then baseline[$test]="does not build on the clean tree"
        else run_test "$name" "$part" "$log"
            case $? in 0) baseline[$test]=ok ;; 125) baseline[$test]="runs no test: $(tail -n 1 "$log")" ;;
                       *) baseline[$test]="fails on the clean tree" ;; esac
        fi
        [ "${baseline[$test]}" = ok ] || echo "clean: \"$test\" ${baseline[$test]} ($log)"
    done

    for row in "${rows[@]}"; do
        IFS=$'\t' read -r suite id fault file change test <<<"$row"
        name=${test%% *} part=${test#* } log="$work/$id.log"
        if [ "${baseline[$test]}" != ok ]; then result="not tried: \"$test\" ${baseline[$test]}"
        elif ! plant "$file" "$change"; then
            not_applied+=("$row") && [ -f "$tree/$file" ] && unplant "$file"
            continue
        elif ! build "$log" $(targets_of "$name"); then result="does not build ($log)"
        else run_test "$name" "$part" "$log"
            case $? in 0) result="MISSED: $test passes" ;; 125) result="not run: $test ran no case ($log)" ;;
                       *) result=caught ;; esac
        fi
        [ -f "$work/saved" ] && unplant "$file" && rm "$work/saved"
        echo "$id $result"
        [ "$result" = caught ] || failed+=("$id $result")
    done
fi

if [ ${#not_applied[@]} -gt 0 ]; then
    echo
    echo "These rows no longer apply: their file no longer holds the text they change."
    for row in "${not_applied[@]}"; do
        IFS=$'\t' read -r suite id fault file change test <<<"$row"
        gone="" && [ -f "$tree/$file" ] || gone=" (no such file)"
        echo "  $id ($suite, $fault): tests/$suite/planted-faults.tsv: $file$gone: $change"
    done
fi
if [ ${#failed[@]} -gt 0 ]; then
    echo
    echo "These rows failed:"
    printf '  %s\n' "${failed[@]}"
fi
total=${#rows[@]} bad=$((${#not_applied[@]} + ${#failed[@]}))
if [ -n "$check_only" ]; then
    echo "planted-faults: $((total - bad)) of $total rows apply"
else
    echo "$((total - bad)) passed, $bad failed"
fi
[ "$bad" -eq 0 ]
