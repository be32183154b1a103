#!/bin/sh
# The benchmark: a large synthetic update applied by the updater from start to exit, against three
# floors doing the raw work of an update in a plain program, in alternating rounds: one copying
# the update over the installation and one moving it, both backing up the whole of the kept
# folders by a copy, and the lean one, which moves the update over and only moves aside the
# player's files the update ships; then a bare window open as long as an update, Wine's own
# memory floor. Prints a results table and writes it to
# build/bench/benchmark-report.md.
# Nothing fails on a number.
#
# Usage: scripts/bench.sh [ROUNDS]      (3 rounds unless told; the medians are reported)
#   BENCH_WORK_DIR   where the installation and the archive live during the runs
#                    (default build/bench/work; a tmpfs folder takes the disk out of the numbers)
#   BENCH_APPEND=1   add the rounds to the earlier runs' raw results and report on all of them,
#                    so that rounds of two checkouts can take turns as the machine's load drifts
#   BENCH_EARLIER_UPDATER   an updater exe of another checkout (a Linux path), run in every round
#                    beside this one on the same data, e.g. to weigh a change that costs time
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${1:-3}
build=$root/build/bench
bin=$build/bin
data=$build/bench-data
work=${BENCH_WORK_DIR:-$build/work}
results=$build/bench-results.txt
report=$build/benchmark-report.md

scripts/install-packages.sh python3
cmake --preset mingw -B "$build" -DMOSSHARBOR_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench -j2
scripts/build-bsdtar.sh "$build/bsdtar"
scripts/make-wineprefix.sh "$build/wineprefix" null "$build/bsdtar/bsdtar.exe"
export WINEPREFIX="$build/wineprefix"

# The update and the installation are written once and kept while the generator is unchanged.
stamp=$(sha256sum bench/make_update.py | cut -d' ' -f1)
if [ "$(cat "$data/stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "Writing the synthetic update and installation to $data"
    rm -rf "$data"
    mkdir -p "$data"
    python3 bench/make_update.py "$data" >"$data/summary"
    cat "$data/summary"
    cp "$bin/bench/bench-finished-client.exe" "$data/install-template/Norvane.exe"
    echo "$stamp" >"$data/stamp"
fi

windows_path() { echo "Z:$1" | tr / '\\'; }
client=$(windows_path "$bin/bench/bench-finished-client.exe")
archive=$(windows_path "$work/update.tar")
install=$(windows_path "$work/install")
counts=$build/bench-counts.txt

# Every run starts from the same installation, archive and per-user folder, with nothing left
# to write back from earlier runs.
reset_state() {
    rm -rf "$work/install" "$work/update.tar" "$counts"
    mkdir -p "$work"
    cp -a "$data/install-template" "$work/install"
    ln "$data/update.tar" "$work/update.tar" 2>/dev/null || cp "$data/update.tar" "$work/update.tar"
    rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Norvane
    sync
}

# The player's folders the updater keeps, as "files bytes".
kept_folders() {
    (cd "$1" && find data/audio data/assets/audio data/assets/arrow data/assets/arrows -type f \
        -printf '%s\n' 2>/dev/null) |
        awk '{ files++; bytes += $1 } END { print files + 0, bytes + 0 }'
}
kept=$(kept_folders "$data/install-template")

# A run that did not apply the whole update, or did not put the player's folders back as they
# were, would measure something else.
check_applied() {
    if [ "$(cat "$work/install/norvane_version.txt" 2>/dev/null)" != "1.1.0" ] ||
        [ -e "$work/update.tar" ] || [ -e "$work/install/update/extract" ] ||
        [ "$(kept_folders "$work/install")" != "$kept" ]; then
        echo "$1 did not apply the update completely; see $work" >&2
        exit 1
    fi
}

measure() {
    "$build/wine-run.sh" "$bin/bench/bench-measure.exe" --client "$client" "$@" | tr -d '\r' |
        tr '\n' ' '
}

run_updater() {
    reset_state
    line=$(measure "$(windows_path "$bin/mossharbor-updater.exe")" '{pid}' "$archive" "$install" \
        Norvane.exe)
    check_applied updater
    echo "round=$1 program=updater $line" >>"$results"
}

# $2: copy, move or lean, the floor's way of backing up and putting the update in place.
run_floor() {
    reset_state
    line=$(measure "$(windows_path "$bin/bench/bench-raw-update.exe")" "$2" '{pid}' "$archive" \
        "$install")
    check_applied "$2 floor"
    echo "round=$1 program=$2 $line" >>"$results"
}

run_earlier() {
    reset_state
    line=$(measure "$(windows_path "$BENCH_EARLIER_UPDATER")" '{pid}' "$archive" "$install" \
        Norvane.exe)
    check_applied "earlier updater"
    echo "round=$1 program=earlier $line" >>"$results"
}

run_counting() {
    reset_state
    line=$(MOSSHARBOR_BENCH_COUNTS=$(windows_path "$counts") measure \
        "$(windows_path "$bin/bench/mossharbor-updater-counting.exe")" '{pid}' "$archive" \
        "$install" Norvane.exe)
    check_applied "counting updater"
    echo "round=$1 program=counting $line $(tr -d '\r\n' <"$counts")" >>"$results"
}

if [ -n "${BENCH_APPEND:-}" ] && [ -s "$results" ]; then
    first_round=$(($(grep -c ' program=updater ' "$results") + 1))
else
    first_round=1
    : >"$results"
    {
        echo "machine uname='$(uname -srm)' cpus=$(nproc)" \
            "cpu='$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)'" \
            "wine='$(wine --version 2>/dev/null | head -n1)'" \
            "date=$(date -u +%Y-%m-%dT%H:%MZ) load=$(cut -d' ' -f1 /proc/loadavg)" \
            "commit=$(git rev-parse --short HEAD 2>/dev/null || echo none)" \
            "work='$(df -PT "$(dirname "$work")" | awk 'NR == 2 { print $1 " (" $2 ")" }')'"
        echo "workload text='$(cat "$data/summary")'"
        echo "exe bytes=$(stat -c %s "$bin/mossharbor-updater.exe")"
    } >>"$results"
fi
last_round=$((first_round + rounds - 1))

run_program() {
    case $2 in
        updater) run_updater "$1" ;;
        earlier) run_earlier "$1" ;;
        copy | move | lean) run_floor "$1" "$2" ;;
    esac
}

# Rotating, each program taking each place in turn, so a drift in the machine's load or caches
# falls on all of them alike.
programs="updater copy move lean${BENCH_EARLIER_UPDATER:+ earlier}"
count=$(echo $programs | wc -w)
round=$first_round
while [ "$round" -le "$last_round" ]; do
    echo "Round $round of $last_round"
    shift_by=$(((round - 1) % count))
    order=$(echo $programs $programs | cut -d' ' -f$((shift_by + 1))-$((shift_by + count)))
    for program in $order; do
        run_program "$round" "$program"
    done
    run_counting "$round"
    round=$((round + 1))
done
rm -rf "$work/install" "$work/update.tar"

# Wine's own floor for a windowed program: a bare window open as long as the updater's median
# run, as many times as there were rounds.
updater_ms=$(sed -n 's/.* program=updater wall_ms=\([0-9.]*\).*/\1/p' "$results" | sort -n |
    awk '{ ms[NR] = $1 }
         END { printf "%d", NR % 2 ? ms[(NR + 1) / 2] : (ms[NR / 2] + ms[NR / 2 + 1]) / 2 }')
echo "Bare window, ${updater_ms} ms a run"
round=$first_round
while [ "$round" -le "$last_round" ]; do
    line=$(measure "$(windows_path "$bin/bench/bench-bare-window.exe")" "$updater_ms")
    echo "round=$round program=bare $line" >>"$results"
    round=$((round + 1))
done

"$build/wine-run.sh" "$bin/bench/bench-compose-frame.exe" 500 | tr -d '\r' |
    sed 's/^/frame state=/' >>"$results"

command="scripts/bench.sh $*"
if [ -n "${BENCH_WORK_DIR:-}" ]; then
    command="BENCH_WORK_DIR=$BENCH_WORK_DIR $command"
fi
if [ "$first_round" -gt 1 ]; then
    command="BENCH_APPEND=1 $command"
fi
python3 bench/report.py "$results" "$command" >"$report"
cat "$report"
echo
echo "Written to $report (raw results: $results)"
