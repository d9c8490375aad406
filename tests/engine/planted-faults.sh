#!/usr/bin/env bash
# Applies each row of PLANTED_FAULTS.md to a copy of the committed tree, builds, runs the
# suite and says whether it caught the fault. Usage: planted-faults.sh WORK_DIR [ID...]
# BEFORE=1 runs, instead of the whole suite, the tests named under "caught before by".
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd) work=$(realpath -m "$1") && shift
[ -d "$work/tree" ] || { mkdir -p "$work/tree" && git -C "$repo" archive HEAD | tar -x -C "$work/tree"; }
cmake -S "$work/tree" -B "$work/build" -DVANTREL_BUILD_WIZARD=OFF >"$work/configure.log" || exit 1
grep -E '^\| [A-Z][0-9]+ \|' "$repo/tests/engine/PLANTED_FAULTS.md" | while IFS= read -r row; do
    IFS=$'\t' read -r id file change before < <(awk -F' [|] ' '{ print substr($1, 3) "\t" $3 "\t" $4 "\t" $5 }' <<<"$row")
    [ $# -eq 0 ] || [[ " $* " == *" $id "* ]] || continue
    [ -n "${BEFORE:-}" ] && [ "$before" = "*new*" ] && continue
    change=${change#\`} change=${change%\`} target=$work/tree/$file
    cp "$target" "$work/saved" && sed -i "$change" "$target"
    if cmp -s "$target" "$work/saved"; then echo "$id not applied"; continue; fi
    tests=(-L 'fast|hostile') && [ -n "${BEFORE:-}" ] && tests=(-R "${before//,/|}")
    if ! cmake --build "$work/build" -j2 >"$work/$id.build.log" 2>&1; then result="does not build"
    elif (cd "$work/build" && prlimit --as=12000000000 ctest "${tests[@]}" -j2 --timeout 600 >"$work/$id.log" 2>&1); then result=MISSED
    else result=caught; fi
    cp "$work/saved" "$target" && echo "$id $result"
done
