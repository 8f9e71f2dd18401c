#!/usr/bin/env bash
# Installs the C library into a temporary prefix and builds the example against it twice, through
# nothing but what a user gets: the header and pkg-config, then find_package(Keyferry). Each
# program must run and say, with no table in its HOME, that there are no receivers.
#   check_installed.sh BUILD_DIR EXAMPLE.c CONSUMER_DIR
set -euo pipefail
build_dir="$1" example="$2" consumer="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --component capi --prefix "$work/prefix" >/dev/null
libdir=$(dirname "$(find "$work/prefix" -name keyferry.pc)")/..

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror "$example" -o "$work/send_note" $(pkg-config --cflags --libs keyferry)

cmake -S "$consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" -DEXAMPLE_SOURCE="$example" >/dev/null
cmake --build "$work/consumer" >/dev/null

mkdir -p "$work/home"
for program in "$work/send_note" "$work/consumer/send_note"; do
    status=0
    output=$(HOME="$work/home" "$program" 2>&1) || status=$?
    if [[ $status -ne 1 || "$output" != *"no receivers"* ]]; then
        echo "$program: exit $status, said: $output" >&2
        exit 1
    fi
done
echo "installed header, pkg-config and CMake package: both builds ran"
