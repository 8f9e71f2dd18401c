#!/usr/bin/env bash
# Builds the fuzz target with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer),
# makes the seed corpus with the sender library, and fuzzes for the given number of seconds
# (default 60). The corpus grows in build-fuzz/corpus across runs.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}-fuzz"
readonly seconds="${1:-60}"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

CC=clang CXX=clang++ KEYFERRY_BUILD_TYPE=RelWithDebInfo "$root/scripts/configure.sh" "$build_dir" -DKEYFERRY_FUZZ=ON
cmake --build "$build_dir" --target receiver_table_fuzzer make_seed_corpus

mkdir -p "$build_dir/corpus"
"$build_dir/fuzz/make_seed_corpus" "$build_dir/corpus"

home=$(mktemp -d)
log="$build_dir/fuzz.log"
trap 'rm -rf "$home"' EXIT
cd "$build_dir"
status=0
HOME="$home" ./fuzz/receiver_table_fuzzer -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -print_final_stats=1 corpus >"$log" 2>&1 || status=$?

# The final statistics, or the whole report of whatever it found.
if ((status == 0)); then
    grep -E '^(#[0-9]+ +DONE|stat::)' "$log"
else
    cat "$log"
    echo "fuzz: the fuzzer found a problem (exit status $status); the input is in $build_dir" >&2
fi
exit "$status"
