#!/usr/bin/env bash
# Builds and runs the benchmarks and writes docs/PERFORMANCE.md: every figure is a ratio against
# a baseline measured in the same run on the same data.
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

"$root/scripts/configure.sh" "$build_dir"
cmake --build "$build_dir" --target keyferry_benchmarks keyferry_throughput KeyferryReceiver_VST3 keyferry-host keyferry

# The placement plot needs matplotlib, from Debian.
if ! python3 -c 'import matplotlib' 2>/dev/null; then
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -qq install -y --no-install-recommends python3-matplotlib >&2
fi

results=$(mktemp)
throughput=$(mktemp)
placement=$(mktemp)
osc=$(mktemp)
trap 'rm -f "$results" "$throughput" "$placement" "$osc"' EXIT
"$build_dir/benchmarks/keyferry_benchmarks" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_format=json >"$results"
for block in 64 512; do
    "$build_dir/benchmarks/keyferry_throughput" --seconds=5 --block="$block" --rate=48000 >>"$throughput"
done
python3 "$root/scripts/measure-placement.py" "$build_dir" >"$placement"
python3 "$root/scripts/measure-osc.py" "$build_dir" >"$osc"
python3 "$root/scripts/performance-report.py" "$results" "$throughput" "$placement" "$osc" >"$root/docs/PERFORMANCE.md"
echo "wrote $root/docs/PERFORMANCE.md"
