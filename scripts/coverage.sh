#!/bin/sh
# Line and branch coverage of src/ and line coverage of the packer (pack/) by the whole test
# suite, for maintainers: nothing runs it on its own and nothing fails on a figure.
# Usage: scripts/coverage.sh [CTEST_ARGUMENTS...]     (e.g. -R pack, for a part of the suite)
#
# Builds the "coverage" preset (the mingw build with GCC's --coverage, unoptimised) in
# build/coverage with its own Wine prefix, runs the tests there and prints a table per file; gcovr
# and coverage.py also write line-by-line HTML to build/coverage/coverage-html/.
#
# How the counts get there:
# - Each instrumented program writes its .gcda files beside its objects when it exits, at the
#   Linux path compiled in (/.../build/coverage/...). On Windows a path starting with "/" is
#   taken on the current drive, and many test processes run in a folder on C:. Wine 8 happens to
#   resolve such a path on the Linux root anyway (checked from C:\x, with the same folders present
#   on C: too), but the test preset does not count on it: GCOV_PREFIX=Z: names the drive that is
#   the Linux root. A .gcda found in the Wine prefix's drive C afterwards went astray and is
#   reported.
# - A process ended by force (TerminateProcess; some tests kill updater runs on purpose, and a
#   finished run's handle is "killed" again in clean-up, which does nothing) and one that calls
#   ExitProcess itself (the test build's MOSSHARBOR_TEST_EXIT_ON_FAILURE, which no test sets)
#   write no counts at all; the counts of every other process are kept, as each adds its own to
#   the .gcda files when it exits. So a line is missing only if killed runs alone reach it; the
#   runs killed on purpose are held at a hold point of the test build first, inside stages that
#   the runs which complete go through too. Objects that ran in no process that exited normally
#   are listed under "never counted".
# - The packer is started as `python3 .../pack/pack_update.py` by scripts/pack-update.sh. A
#   sitecustomize.py on PYTHONPATH starts coverage.py in every Python process of the tests
#   (COVERAGE_PROCESS_START), which records only pack/; each writes its own data file and they
#   are combined afterwards. It needs a python3 that has coverage.py: the one on PATH if it does,
#   else Debian's /usr/bin/python3 with python3-coverage, put first on PATH for the tests.
# - The release test is left out: it checks that the test build's exe is the release build's,
#   byte for byte, which an instrumented exe never is. It runs none of the instrumented programs;
#   its one packer run (an empty folder) is left out with it.
# - Branches: gcovr leaves out the branches GCC adds for exceptions thrown by calls and the ones
#   on lines with no code of their own, which otherwise swamp the figures of C++.
#
# bsdtar.exe (a few minutes to build) is copied from this checkout's build/mingw, or from the main
# checkout's when this is a git worktree, if one made by the same recipe is there; else it is
# built here.
set -eu
started=$(date +%s)
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/coverage
python_dir=$build/python
html=$build/coverage-html

scripts/install-packages.sh python3 gcovr python3-coverage

# The same recipe (the script's hash in the stamp) makes the same exe; under the other build's
# lock, so a rebuild there cannot be caught half way.
recipe=$(sha256sum scripts/build-bsdtar.sh | cut -d' ' -f1)
common=$(git rev-parse --path-format=absolute --git-common-dir 2>/dev/null || true)
main_checkout=${common%/.git}
if [ "$(cat "$build/bsdtar/bsdtar.stamp" 2>/dev/null)" != "$recipe" ]; then
    for other in "$root/build/mingw/bsdtar" ${main_checkout:+"$main_checkout/build/mingw/bsdtar"}; do
        [ "$(cat "$other/bsdtar.stamp" 2>/dev/null)" = "$recipe" ] || continue
        mkdir -p "$build/bsdtar"
        if flock "$other/.lock" sh -c '[ "$(cat "$1/bsdtar.stamp")" = "$3" ] &&
                cp "$1/bsdtar.exe" "$1/bsdtar.stamp" "$2/"' sh "$other" "$build/bsdtar" "$recipe"
        then
            echo "Using the bsdtar.exe of $other"
            break
        fi
    done
fi

cmake --preset coverage >/dev/null
cmake --build --preset coverage

# Counts from earlier runs would add up with this one's.
find "$build" -name '*.gcda' -delete
rm -rf "$python_dir" "$html"
mkdir -p "$python_dir" "$html/src"

python=python3
if ! python3 -c 'import coverage' 2>/dev/null; then
    python=/usr/bin/python3
    ln -s "$python" "$python_dir/python3"
    PATH=$python_dir:$PATH
fi
cat >"$python_dir/sitecustomize.py" <<'EOF'
import resource
try:
    import coverage
except ImportError:  # an interpreter the tests start that has no coverage.py
    pass
else:
    # A test that limits the file size to make the packer fail part way would fail coverage.py's
    # own data file instead: such a run goes uncounted.
    if resource.getrlimit(resource.RLIMIT_FSIZE)[0] == resource.RLIM_INFINITY:
        coverage.process_startup()
EOF
cat >"$python_dir/coveragerc" <<EOF
[run]
data_file = $python_dir/.coverage
parallel = True
include = $root/pack/*
disable_warnings = no-data-collected, module-not-imported
EOF
test_status=0
PYTHONPATH=$python_dir${PYTHONPATH:+:$PYTHONPATH} COVERAGE_PROCESS_START=$python_dir/coveragerc \
    ctest --preset coverage "$@" || test_status=$?

"$python" -m coverage combine --rcfile="$python_dir/coveragerc" -q >/dev/null 2>&1 || true
"$python" -m coverage json --rcfile="$python_dir/coveragerc" -q -o "$python_dir/pack.json" \
    >/dev/null 2>&1 || echo '{"files": {}}' >"$python_dir/pack.json"
"$python" -m coverage html --rcfile="$python_dir/coveragerc" -q -d "$html/pack" >/dev/null 2>&1 ||
    true

# Only the objects' folders: the Wine prefix's dosdevices lead to the whole file system, and
# CMake's compiler checks leave objects of their own.
gcovr --root "$root" --filter "$root/src/" --object-directory "$build" \
    --exclude-directories "$build/CMakeFiles/[0-9]" --gcov-executable x86_64-w64-mingw32-gcov \
    --exclude-throw-branches --exclude-unreachable-branches -j "$(nproc)" \
    --json-summary "$build/src.json" --html-details "$html/src/index.html" \
    "$build/CMakeFiles" "$build/tests"

astray=$(find "$build/wineprefix/drive_c" -name '*.gcda' 2>/dev/null | wc -l)
never=$(cd "$build" && find . -name '*.gcno' -path '*/src/*' ! -path './googletest/*' | while read -r gcno; do
    [ -f "${gcno%.gcno}.gcda" ] || echo "${gcno#./}"
done)

"$python" - "$build/src.json" "$python_dir/pack.json" "$root" <<'EOF'
import json, os, sys
src = json.load(open(sys.argv[1]))
pack = json.load(open(sys.argv[2]))
root = sys.argv[3]
def share(done, total):
    return f"{100 * done / total:5.1f}%" if total else "    -"
print(f"\n{'File':44} {'Lines':>11} {'':6}  {'Branches':>9} {'':6}")
for f in sorted(src["files"], key=lambda f: f["filename"]):
    print(f"{f['filename']:44} {f['line_covered']:5}/{f['line_total']:<5} "
          f"{share(f['line_covered'], f['line_total'])}  {f['branch_covered']:4}/"
          f"{f['branch_total']:<4} {share(f['branch_covered'], f['branch_total'])}")
print(f"{'src/ total':44} {src['line_covered']:5}/{src['line_total']:<5} "
      f"{share(src['line_covered'], src['line_total'])}  {src['branch_covered']:4}/"
      f"{src['branch_total']:<4} {share(src['branch_covered'], src['branch_total'])}")
if not pack["files"]:
    print("pack/: no coverage data recorded")
for path, data in sorted(pack["files"].items()):
    s = data["summary"]
    print(f"{os.path.relpath(os.path.join(root, path), root):44} "
          f"{s['covered_lines']:5}/{s['num_statements']:<5} "
          f"{share(s['covered_lines'], s['num_statements'])}")
EOF
if [ -n "$never" ]; then
    echo "never counted (no process running them exited normally):"
    echo "$never" | sed 's/^/  /'
fi
if [ "$astray" -ne 0 ]; then
    echo "$astray .gcda files landed in the Wine prefix's drive C instead of the build: not counted"
fi
echo "HTML: $html/src/index.html, $html/pack/index.html"
echo "Coverage run took $(($(date +%s) - started)) s"
if [ "$test_status" -ne 0 ]; then
    echo "Some tests failed (ctest exit $test_status): the figures include their runs" >&2
    exit 1
fi
