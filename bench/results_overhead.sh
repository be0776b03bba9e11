#!/usr/bin/env bash
# Whole-run cost of --results and --multistart 4 through the executable: the metric example
# repeated COPIES times (unique station identifiers), run RUNS times per configuration on one
# worker; prints the median processor time (user + system, steadier than the wall time on a
# shared machine) of each and its ratio to the plain run.
#   bench/results_overhead.sh [BUILD_DIR] [RUNS] [COPIES]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
runs="${2:-11}"
copies="${3:-10}"
engine="$build/apps/basinfit"
[ -x "$engine" ] || { echo "no engine at $engine" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cp "$root/examples/metric/standard.dat" "$root/examples/metric/general.dat" "$work/"
{
  head -n 1 "$root/examples/metric/deflections.dat"
  for c in $(seq 1 "$copies"); do
    tail -n +2 "$root/examples/metric/deflections.dat" | sed -E "s/^([0-9]+) 4 /\1C$c 4 /"
  done
} > "$work/deflections.dat"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

measure() {
  local times=()
  for _ in $(seq 1 "$runs"); do
    printf '9\nstandard.dat\ngeneral.dat\ndeflections.dat\ndetail.txt\nsummary.txt\nrun.log\n' > "$work/control"
    local cpu
    cpu=$( { TIMEFORMAT='%3U %3S'; time (cd "$work" && "$engine" -q --jobs 1 "$@" control); } 2>&1 )
    times+=("$(echo "$cpu" | awk '{ print $1 + $2 }')")
  done
  printf '%s\n' "${times[@]}" | median
}

plain=$(measure)
results=$(measure --results res)
multistart=$(measure --results res --multistart 4)
drops=$(grep -c '^[0-9]' "$work/deflections.dat" || true)
printf 'survey: %s records (stations and drops), %s runs each, one worker\n' "$drops" "$runs"
printf '%-32s %10s %8s\n' configuration "median cpu s" ratio
printf '%-32s %10.4f %8.3f\n' plain "$plain" 1
printf '%-32s %10.4f %8.3f\n' "--results" "$results" "$(echo "$results / $plain" | bc -l)"
printf '%-32s %10.4f %8.3f\n' "--results --multistart 4" "$multistart" "$(echo "$multistart / $plain" | bc -l)"
