#!/usr/bin/env bash
# The main job: builds and installs everything for the current user (scripts/install.sh: the
# plug-in into ~/.vst3, the tools, the C library and the Python package), checks the installed bundle, and then shows the road of a message without a DAW:
# keyferry-host runs the installed plug-in in real time and prints every MIDI event that comes
# out, while `keyferry play` sends demo/phrase.mid into its receiver and then a panic.
#   scripts/demo.sh [--block N] [--rate HZ]      (defaults 512 and 48000)
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}"
readonly vst3_dir="${KEYFERRY_VST3_INSTALL_DIR:-$HOME/.vst3}"
readonly bin="$HOME/.local/bin"

block=512
rate=48000
while (($# > 0)); do
    case "$1" in
        --block) block="$2"; shift 2 ;;
        --rate) rate="$2"; shift 2 ;;
        *) echo "usage: scripts/demo.sh [--block N] [--rate HZ]" >&2; exit 2 ;;
    esac
done

"$root/scripts/install.sh"
readonly bundle="$vst3_dir/Keyferry Receiver.vst3"
echo
"$bin/keyferry-host" check "$bundle"
echo

log=$(mktemp)
"$bin/keyferry-host" run "$bundle" --block="$block" --rate="$rate" >"$log" 2>&1 &
host=$!
trap 'kill "$host" 2>/dev/null || true; rm -f "$log"' EXIT

for _ in $(seq 100); do
    grep -q '^ready: receiver' "$log" && break
    kill -0 "$host" 2>/dev/null || { cat "$log"; exit 1; }
    sleep 0.1
done
receiver=$(sed -n 's/^ready: receiver \([1-9]\).*/\1/p' "$log")
[[ -n "$receiver" ]] || { cat "$log"; echo "demo: the host did not get a receiver" >&2; exit 1; }

tail -n +1 -f "$log" &
printer=$!

"$bin/keyferry" play "$root/demo/phrase.mid" "$receiver" --quiet
"$bin/keyferry" panic "$receiver"
sleep 0.3

kill -TERM "$host"
wait "$host" || true
sleep 0.1
kill "$printer" 2>/dev/null || true
wait "$printer" 2>/dev/null || true
