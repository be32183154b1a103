#!/bin/sh
# Maintainer's tool, not a test: measures what the suite catches. For each planted fault in
# scripts/faults/*.patch (or the patches named as arguments) it applies the patch to src/, pack/ or
# scripts/release.sh, rebuilds, runs the whole suite, notes which ctest entries failed, and reverts
# the source. CTEST_FILTER, if set, is added to ctest's arguments, e.g. CTEST_FILTER='-R pack'.
# Prints one row per fault: its name and the entries that caught it, or MISSED, and writes it into
# the committed catch table scripts/faults/caught.txt (a fault run again replaces its row; a run
# limited by CTEST_FILTER or MOSSHARBOR_TEST_SWEEP_ROWS says so in it), which
# says what each check alone catches before any of them is cut.
# Run from the repository root with a configured build/mingw and a clean src/, pack/ and release.sh.
set -u
cd "$(dirname "$0")/.."
planted="src pack scripts/release.sh"
if ! git diff --quiet -- $planted; then
    echo "src/, pack/ or scripts/release.sh has local changes; commit or stash them first" >&2
    exit 1
fi
log=build/mingw/plant-faults
# What a row of the table ran, when less than everything: the ctest entries, the sweep's rows.
scope=${CTEST_FILTER:-}${MOSSHARBOR_TEST_SWEEP_ROWS:+${CTEST_FILTER:+, }rows $MOSSHARBOR_TEST_SWEEP_ROWS}
mkdir -p "$log"
table=$log/table.txt
: >"$table"
trap 'git checkout -- $planted' EXIT
trap 'exit 1' INT TERM
[ $# -gt 0 ] || set -- scripts/faults/*.patch
for patch in "$@"; do
    name=$(basename "$patch" .patch)
    start=$(date +%s)
    # A test's scratch folder that it could not remove would come back, under the same Wine
    # process id, full of the previous fault's files and fail the next run for no fault of its own.
    rm -rf build/mingw/wineprefix/drive_c/users/*/Temp/mh-test-*
    if ! git apply "$patch"; then
        result="does not apply"
    elif ! cmake --build --preset mingw >"$log/$name.build.log" 2>&1; then
        result="does not compile"
    else
        # The release test builds the same faulty exe again from a copy: minutes that tell nothing,
        # unless the fault is in the release command itself.
        skip="-E release" timeout=150
        if grep -q '^+++ b/scripts/release.sh' "$patch"; then skip="" timeout=600; fi
        ctest --preset mingw --timeout $timeout $skip ${CTEST_FILTER:-} --output-on-failure \
            >"$log/$name.ctest.log" 2>&1
        # ctest's summary lists each failed entry as "  N - name (Failed|Timeout|...)"; the
        # output of a failed entry names each failed test case as "[  FAILED  ] Suite.Case".
        result=$(sed -n '/The following tests FAILED:/,$p' "$log/$name.ctest.log" |
            sed -n 's/^[[:space:]]*[0-9][0-9]* - \([^ ]*\) (\(.*\))$/\1(\2)/p' | tr '\n' ' ')
        result="$result$(sed -n 's/^\[  FAILED  \] \([A-Za-z/]*\.[A-Za-z/]*\).*/\1/p' \
            "$log/$name.ctest.log" | sort -u | tr '\n' ' ')"
        [ -n "$result" ] || result=MISSED
    fi
    git checkout -- $planted
    # An entry ended at its timeout leaves its updaters running, built with this fault: the next
    # fault's run would meet them, acting on its folders through a leftover link of the small disk
    # (whose mounts the next small-disk run clears itself).
    WINEPREFIX="$(pwd)/build/mingw/wineprefix" wineserver -k 2>/dev/null
    row=$(printf '%-42s %s  [%ss]' "$name" "$result" $(($(date +%s) - start)))
    echo "$row" >>"$table"
    echo "$row"
    caught=scripts/faults/caught.txt
    { grep -v "^$name " "$caught" 2>/dev/null
      printf '%s %s\n' "$name" "$result${scope:+ [of: $scope]}"; } | sort -V >"$caught.new"
    mv "$caught.new" "$caught"
done
# Leaves the build matching the clean source again.
cmake --build --preset mingw >"$log/clean.build.log" 2>&1
echo
printf '%-42s %s\n' fault "caught by"
cat "$table"
