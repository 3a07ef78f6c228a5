#!/usr/bin/env bash
# Runs the whole CTest suite N times in a row while every core is kept busy, and
# tells per failed test in how many of the runs it failed. Builds nothing.
#
#   scripts/stress-tests.sh [BUILD_DIR] [RUNS] [extra ctest arguments...]
#
# BUILD_DIR defaults to ./build, RUNS to 3. Exits non-zero when any test failed.
set -u

BuildDir=${1:-build}
Runs=${2:-3}
shift $(($# > 2 ? 2 : $#))

if [ ! -f "$BuildDir/CTestTestfile.cmake" ]; then
    echo "stress-tests: $BuildDir is no CTest build folder" >&2
    exit 2
fi
case $Runs in
'' | *[!0-9]* | 0)
    echo "stress-tests: RUNS must be a positive number, not '$Runs'" >&2
    exit 2
    ;;
esac

export QTWEBENGINE_DISABLE_SANDBOX=1
Cores=$(nproc)
# The load ends by itself even if this script is killed with SIGKILL: each busy
# loop runs under timeout, bounded by the longest the runs may take.
LoadBound=$((Runs * 3600))
LoadPids=()
CtestPid=
Work=$(mktemp -d)

StopLoad() {
    local Pid
    for Pid in "${LoadPids[@]}"; do
        kill "$Pid" 2>/dev/null
    done
    for Pid in "${LoadPids[@]}"; do
        wait "$Pid" 2>/dev/null
    done
    LoadPids=()
}
Cleanup() {
    if [ -n "$CtestPid" ]; then
        kill -TERM -- "-$CtestPid" 2>/dev/null
        wait "$CtestPid" 2>/dev/null
    fi
    StopLoad
    rm -rf "$Work"
}
trap Cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

for ((I = 0; I < Cores; I++)); do
    timeout "$LoadBound" bash -c 'while :; do :; done' &
    LoadPids+=($!)
done
echo "stress-tests: $Cores busy loops, $Runs runs of ctest -j2 in $BuildDir"

for ((Run = 1; Run <= Runs; Run++)); do
    echo "=== loaded run $Run of $Runs ==="
    rm -f "$BuildDir/Testing/Temporary/LastTestsFailed.log"
    # In the background in its own process group, so that a signal to this script
    # is handled at once and ends ctest with every test it started.
    (cd "$BuildDir" && exec setsid ctest -j2 --timeout 600 --no-tests=error --output-on-failure "$@") \
        >"$Work/run$Run.log" 2>&1 &
    CtestPid=$!
    wait "$CtestPid"
    Rc=$?
    CtestPid=
    tail -n 3 "$Work/run$Run.log"
    if [ -f "$BuildDir/Testing/Temporary/LastTestsFailed.log" ]; then
        # Lines are "<number>:<test name>".
        cut -d: -f2- "$BuildDir/Testing/Temporary/LastTestsFailed.log" | sort -u >"$Work/failed$Run"
    elif [ "$Rc" -ne 0 ]; then
        # ctest failed without a list (no tests matched, a crash of ctest itself).
        grep -E '^[[:space:]]*[0-9]+ - ' "$Work/run$Run.log" | sed -E 's/^[[:space:]]*[0-9]+ - ([^ ]+).*/\1/' |
            sort -u >"$Work/failed$Run"
        [ -s "$Work/failed$Run" ] || echo "(ctest itself, exit $Rc)" >"$Work/failed$Run"
    else
        : >"$Work/failed$Run"
    fi
    if [ -s "$Work/failed$Run" ]; then
        cp "$Work/run$Run.log" "$BuildDir/stress-run$Run.log"
        echo "failed in run $Run (output in $BuildDir/stress-run$Run.log):"
        sed 's/^/  /' "$Work/failed$Run"
    fi
done
StopLoad

echo "=== summary ==="
Failed=0
if cat "$Work"/failed* | grep -q .; then
    while read -r Count Name; do
        echo "$Name: failed in $Count of $Runs runs"
        Failed=$((Failed + 1))
    done < <(cat "$Work"/failed* | sort | uniq -c | sort -rn)
fi
echo "$Runs loaded runs, $Failed failed tests"
[ "$Failed" -eq 0 ]
