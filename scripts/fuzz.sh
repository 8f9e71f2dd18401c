#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer),
# makes the table target's seed corpus with the sender library, and fuzzes each target for the
# given number of seconds (default 60). The corpora grow in build-fuzz across runs.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}-fuzz"
readonly seconds="${1:-60}"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

CC=clang CXX=clang++ KEYFERRY_BUILD_TYPE=RelWithDebInfo "$root/scripts/configure.sh" "$build_dir" -DKEYFERRY_FUZZ=ON
cmake --build "$build_dir" --target receiver_table_fuzzer osc_router_fuzzer make_seed_corpus

mkdir -p "$build_dir/corpus" "$build_dir/corpus-osc"
"$build_dir/fuzz/make_seed_corpus" "$build_dir/corpus"
# Raw datagrams for the OSC target to start from (mode 3: timed, raw; no block clocks): a note, a
# bundle of it tagged "immediately", and a MIDI-message argument.
python3 - "$build_dir/corpus-osc" <<'PYTHON'
import pathlib, struct, sys
pad = lambda b: b + b"\0" * (4 - len(b) % 4)
note = pad(b"/keyferry/1/note_on") + pad(b",iii") + struct.pack(">iii", 1, 60, 100)
bundle = pad(b"#bundle") + struct.pack(">Qi", 1, len(note)) + note
midi = pad(b"/keyferry/1/raw") + pad(b",sm") + pad(b"x") + bytes([0, 0x90, 60, 100])
for name, packet in (("seed-note", note), ("seed-bundle", bundle), ("seed-midi", midi)):
    (pathlib.Path(sys.argv[1]) / name).write_bytes(b"\3\0" + packet)
PYTHON

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
cd "$build_dir"

# fuzz TARGET CORPUS: prints the final statistics, or the whole report of whatever it found.
fuzz() {
    local log="$build_dir/$1.log" status=0
    echo "-- $1"
    HOME="$home" "./fuzz/$1" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 "$2" \
        >"$log" 2>&1 || status=$?
    if ((status == 0)); then
        grep -E '^(#[0-9]+ +DONE|stat::)' "$log"
    else
        cat "$log"
        echo "fuzz: $1 found a problem (exit status $status); the input is in $build_dir" >&2
    fi
    return "$status"
}

status=0
fuzz receiver_table_fuzzer corpus || status=$?
fuzz osc_router_fuzzer corpus-osc || status=$?
exit "$status"
