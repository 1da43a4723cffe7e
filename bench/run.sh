#!/bin/bash
# Start-up cost of both builds of corvalesmgr.exe against the least a program
# of the same bitness doing the same work costs, the sizes of the exes, and
# the uninstall's timings. Prints figures; fails only if a run does.
#   bench/run.sh <mingw64-build-dir> <mingw32-build-dir>
# BENCH_RUNS (default 25) runs of each program, timed on the Windows side,
# all in one Wine session (a 64-bit prefix; the 32-bit build runs under
# WoW64, as on 64-bit Windows).
#
# No Wine output is read through a pipe: the prefix's desktop and services,
# started by the first run, would inherit it and hold it open for ever.
set -euo pipefail
root=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/..
. "$root/tests/wine/wine-env.sh"

RUNS=${BENCH_RUNS:-25}
# Runs alternate between the program and its floor in this many rounds, so
# load from elsewhere on the machine falls on both alike.
ROUNDS=5
STARTUP_GOAL=1.05
SIZE32_GOAL=$((256 * 1024))
declare -A CXX=([x86_64]=x86_64-w64-mingw32-g++-posix [i686]=i686-w64-mingw32-g++-posix)
BUILDS=(x86_64 i686)
# As the program is built (cmake/WindowsProgram.cmake).
FLOOR_FLAGS=(-municode -mwindows -static -s -Os -ffunction-sections -fdata-sections
             -Wl,--gc-sections -Wl,--no-insert-timestamp)

work=
hold_pid=

cleanup() {
    if [ -n "$work" ]; then
        if [ -n "$hold_pid" ]; then
            exec {hold_fd}>&- 2>/dev/null || true
            wait "$hold_pid" 2>/dev/null || true
        fi
        corvales_wine_discard
        rm -rf "$work"
    fi
}

# Each build's floors, compiled as it is.
build_floors() {
    local name build
    for build in "${BUILDS[@]}"; do
        for name in floor_shellexecute floor_shellexecute_bare floor_empty; do
            "${CXX[$build]}" "${FLOOR_FLAGS[@]}" -o "$work/${name}_$build.exe" \
                "$root/bench/$name.cpp" -lshell32 -lole32
        done
    done
}

# The 64-bit build's own driver when it has one, else one made here. It
# starts and times the programs of both builds alike.
find_driver() {
    driver=$build64/tests/e2e/e2e_driver.exe
    if [ ! -f "$driver" ]; then
        driver=$work/driver.exe
        "${CXX[x86_64]}" -std=c++17 -O2 -municode -static -o "$driver" "$root/tests/e2e/driver.cpp"
    fi
}

# One prefix and one wineserver for every run; opened pages go to a
# browser that does nothing.
start_session() {
    corvales_wine_fresh_prefix "$work"
    corvales_wine_use "$work"
    printf '#!/bin/sh\nexit 0\n' >"$work/browser"
    chmod +x "$work/browser"
    # The prefix's services inherit this command's stdio: give them none.
    "$CORVALES_WINESERVER" -p </dev/null >/dev/null 2>&1
    corvales_wine_set_browser "\"$work/browser\""
    mkdir -p "$WINEPREFIX/drive_c/bench"
    cp "$work"/floor_*.exe "$WINEPREFIX/drive_c/bench/"
    cp "$build64/corvalesmgr.exe" "$WINEPREFIX/drive_c/bench/corvalesmgr_x86_64.exe"
    cp "$build32/corvalesmgr.exe" "$WINEPREFIX/drive_c/bench/corvalesmgr_i686.exe"
    # Keeps the desktop process up between the timing series. Its stdin is
    # a pipe we write and close; its output goes nowhere anyone reads.
    exec {hold_fd}> >(exec "$CORVALES_WINE" "$driver" hold >/dev/null 2>&1)
    hold_pid=$!
}

# Milliseconds of each of N runs of a command line, one a line. The driver's
# output goes to a file: what the runs start outlives them.
time_runs() {
    local n=$1 line=$2 out=$work/time.out
    if ! "$CORVALES_WINE" "$driver" time "$n" "text:$line" </dev/null >"$out" 2>&1; then
        echo "bench: runs of $line failed: $(cat "$out")" >&2
        return 1
    fi
    if grep -qv '^ms=[0-9.]* exit=0$' "$out"; then
        echo "bench: $line did not exit with 0: $(cat "$out")" >&2
        return 1
    fi
    sed -n 's/^ms=\([0-9.]*\) exit=0$/\1/p' "$out"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# bench_pair LABEL GOAL PROGRAM-LINE FLOOR-LINE: prints both medians and
# their ratio, against GOAL unless it is empty.
bench_pair() {
    local label=$1 goal=$2 line=$3 floor=$4 per=$(((RUNS + ROUNDS - 1) / ROUNDS)) i
    local a=$work/a.ms b=$work/b.ms
    : >"$a"
    : >"$b"
    # Untimed: the first run of each loads everything cold.
    time_runs 1 "$line" >/dev/null
    time_runs 1 "$floor" >/dev/null
    for ((i = 0; i < ROUNDS; i++)); do
        time_runs "$per" "$line" >>"$a"
        time_runs "$per" "$floor" >>"$b"
    done
    local ma mb
    ma=$(median <"$a")
    mb=$(median <"$b")
    awk -v l="$label" -v ma="$ma" -v mb="$mb" -v g="$goal" -v n="$(wc -l <"$a")" 'BEGIN {
        r = ma / mb
        printf "%s: median %.1f ms vs floor %.1f ms over %d runs each: %.3fx", l, ma, mb, n, r
        if (g != "") printf " (goal <= %.2fx, %s)", g, (r <= g ? "met" : "missed")
        printf "\n"
    }'
}

report_size() {
    local label=$1 file=$2 goal=${3:-}
    if [ ! -f "$file" ]; then
        echo "$label: $file is missing"
        return
    fi
    local size
    size=$(stat -c %s "$file")
    if [ -n "$goal" ]; then
        awk -v l="$label" -v s="$size" -v g="$goal" 'BEGIN {
            printf "%s: %d bytes (%.1f KB; goal <= %d KB, %s)\n", l, s, s / 1024, g / 1024, (s <= g ? "met" : "missed")
        }'
    else
        awk -v l="$label" -v s="$size" 'BEGIN { printf "%s: %d bytes (%.1f KB)\n", l, s, s / 1024 }'
    fi
}

bench_startup() {
    local build exe
    for build in "${BUILDS[@]}"; do
        exe="C:\\bench\\corvalesmgr_$build.exe"
        bench_pair "$build corvalesmgr.exe /desktop vs ShellExecute in its COM apartment" "$STARTUP_GOAL" \
            "$exe /desktop" "C:\\bench\\floor_shellexecute_$build.exe"
    done
    # No goal: what the COM apartment around the shell call costs.
    for build in "${BUILDS[@]}"; do
        exe="C:\\bench\\corvalesmgr_$build.exe"
        bench_pair "$build corvalesmgr.exe /desktop vs ShellExecute without COM" "" \
            "$exe /desktop" "C:\\bench\\floor_shellexecute_bare_$build.exe"
    done
    # No goal here: the empty program loads neither user32 nor shell32 nor
    # ole32, which every run of ours does before it reads its command line.
    for build in "${BUILDS[@]}"; do
        exe="C:\\bench\\corvalesmgr_$build.exe"
        bench_pair "$build corvalesmgr.exe /install vs an empty program" "" \
            "$exe /install" "C:\\bench\\floor_empty_$build.exe"
    done
}

bench_sizes() {
    report_size "64-bit corvalesmgr.exe" "$build64/corvalesmgr.exe"
    report_size "32-bit corvalesmgr.exe" "$build32/corvalesmgr.exe" "$SIZE32_GOAL"
}

main() {
    if [ $# -ne 2 ]; then
        echo "usage: bench/run.sh <mingw64-build-dir> <mingw32-build-dir>" >&2
        exit 2
    fi
    build64=$1
    build32=$2
    local dir
    for dir in "$build64" "$build32"; do
        if [ ! -f "$dir/corvalesmgr.exe" ]; then
            echo "bench: no $dir/corvalesmgr.exe; build it first (make mingw64 mingw32)" >&2
            exit 1
        fi
    done
    work=$(mktemp -d "${TMPDIR:-/tmp}/corvales-bench.XXXXXX")
    trap cleanup EXIT
    build_floors
    find_driver
    start_session
    bench_startup
    bench_sizes
    # The uninstall figures need the test helpers of full builds.
    if [ -f "$build64/uninstall-helpers.args" ] && [ -f "$build32/uninstall-helpers.args" ]; then
        "$root/tests/uninstall/bench_uninstall.sh" "$build64" "$build32" </dev/null
    else
        echo "uninstall: skipped, the builds were made without their tests"
    fi
}

main "$@"
