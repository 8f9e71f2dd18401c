#!/usr/bin/env bash
# Sets up the machine (idempotently) and configures one build folder.
#   scripts/configure.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="$1"
shift

juce_dir=$("$root/scripts/bootstrap.sh" | tail -n 1)

# Compiled objects are cached outside the clone; paths relative to the clone keep the cache
# valid for a fresh clone in another folder.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-include_file_mtime,include_file_ctime,time_macros}"
ccache --max-size=8G >/dev/null 2>&1 || true

cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE="${KEYFERRY_BUILD_TYPE:-Release}" \
    -DKEYFERRY_JUCE_DIR="$juce_dir" \
    "$@" >/dev/null
