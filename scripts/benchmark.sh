#!/usr/bin/env bash
# Builds and runs the benchmarks and writes docs/PERFORMANCE.md: every figure is a ratio against
# a baseline measured in the same run on the same data.
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

"$root/scripts/configure.sh" "$build_dir"
cmake --build "$build_dir" --target keyferry_benchmarks keyferry_throughput

results=$(mktemp)
throughput=$(mktemp)
trap 'rm -f "$results" "$throughput"' EXIT
"$build_dir/benchmarks/keyferry_benchmarks" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_format=json >"$results"
for block in 64 512; do
    "$build_dir/benchmarks/keyferry_throughput" --seconds=5 --block="$block" --rate=48000 >>"$throughput"
done
python3 "$root/scripts/performance-report.py" "$results" "$throughput" >"$root/docs/PERFORMANCE.md"
echo "wrote $root/docs/PERFORMANCE.md"
