#!/bin/sh
# What the protocol trace costs. Builds trace_cost and kelo-sim twice, with the trace's hooks
# (the normal build) and with them compiled out (-DKELO_TRACE=OFF), then runs against one
# kelo-sim of type 3, in a private network namespace, in alternation:
#   a type 3 Get Report (the median of 500 per run) and a 64 MiB firmware upgrade (of 5 per
#   run), each from both builds without a trace, and the upgrade once more with the text
#   trace on.
# It prints the best over all runs, of the wall time and of the CPU time of the process that
# talks to the machine, and the verdicts: without a trace the hooks cost at most 2%; with the
# text trace on, the upgrade takes at most 10% longer than without.
# Usage: bench/trace/compare.sh [RUNS]   (default 21)
set -e
cd "$(dirname "$0")/../.."
RUNS=${1:-21}
ON="build-bench/trace-on"
OFF="build-bench/trace-off"

if [ -z "$KELO_TRACE_COST_INSIDE" ]; then
    launcher=""
    command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
    for build in "$ON:ON" "$OFF:OFF"; do
        dir=${build%:*}
        # shellcheck disable=SC2086 # launcher is one option or none
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELO_TRACE="${build#*:}" \
            -DKELO_BUILD_TESTS=OFF -DKELO_BUILD_GUI=OFF $launcher >/dev/null
        cmake --build "$dir" -j2 --target trace_cost kelo-sim >/dev/null
    done
    KELO_TRACE_COST_INSIDE=1 exec tests/netns-run "$0" "$RUNS"
fi

work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
"$ON/sim/kelo-sim" --type 3 --bind 127.0.0.1 --restart-ms 0 >"$work/sim.log" 2>&1 &
sim=$!
until grep -q '"listening"' "$work/sim.log"; do sleep 0.1; done

# One measurement: build, what, rounds, [trace file]; appends the wall and CPU seconds.
measure() {
    "$1/bench/trace/trace_cost" "$2" 127.0.0.1 "$3" ${4:+"$4"} >>"$work/$2-$(basename "$1")${4:+-traced}"
}

run=1
while [ "$run" -le "$RUNS" ]; do
    # The order alternates, so neither build always runs first.
    if [ $((run % 2)) -eq 1 ]; then first=$OFF second=$ON; else first=$ON second=$OFF; fi
    for build in "$first" "$second"; do measure "$build" report 500; done
    for build in "$first" "$second"; do measure "$build" upgrade 5; done
    : >"$work/trace.txt"
    measure "$ON" upgrade 5 "$work/trace.txt"
    printf 'run %d of %d\r' "$run" "$RUNS" >&2
    run=$((run + 1))
done
printf '\n' >&2

# The best (smallest) time over all runs: other work on the machine only ever adds time.
# Column 1 is the wall time, column 2 the CPU time of the process that talks to the machine.
best() { sort -g -k"$2" "$1" | head -n 1 | awk -v k="$2" '{ print $k }'; }
verdict() { awk -v a="$1" -v b="$2" -v limit="$3" -v what="$4" 'BEGIN {
    change = (a / b - 1) * 100
    printf "  %-40s %+6.2f%% (limit %d%%): %s\n", what, change, limit, change <= limit ? "PASS" : "FAIL"
}'; }

echo "Best of $RUNS runs:"
for column in 1 2; do
    [ "$column" -eq 1 ] && kind="wall time" || kind="CPU time"
    report_off=$(best "$work/report-trace-off" "$column")
    report_on=$(best "$work/report-trace-on" "$column")
    upgrade_off=$(best "$work/upgrade-trace-off" "$column")
    upgrade_on=$(best "$work/upgrade-trace-on" "$column")
    upgrade_traced=$(best "$work/upgrade-trace-on-traced" "$column")
    echo "$kind:"
    awk -v a="$report_off" -v b="$report_on" 'BEGIN {
        printf "  Get Report, type 3: without hooks %8.1f us, with hooks %8.1f us\n", a * 1e6, b * 1e6 }'
    awk -v a="$upgrade_off" -v b="$upgrade_on" -v c="$upgrade_traced" 'BEGIN {
        printf "  64 MiB upgrade:     without hooks %8.2f ms, with hooks %8.2f ms, text trace on %8.2f ms\n",
            a * 1e3, b * 1e3, c * 1e3 }'
    verdict "$report_on" "$report_off" 2 "Get Report, hooks without a trace:"
    verdict "$upgrade_on" "$upgrade_off" 2 "64 MiB upgrade, hooks without a trace:"
    verdict "$upgrade_traced" "$upgrade_on" 10 "64 MiB upgrade, text trace on:"
done
