#!/usr/bin/env bash
# Checks placement in a real DAW: Debian's headless Ardour 7 (installed here if missing, since only
# this check needs it) on its Dummy backend at 48 kHz and 1024 samples per block, a MIDI track with
# the built Keyferry Receiver and then a synth, an audio track recording the synth. While the
# transport rolls, `keyferry play` sends a steady pulse (16 notes 500 ms apart, no options), then
# the onsets in Ardour's own recording are measured: every spacing within 0.1 ms of 500 ms passes.
# Mind the instrument: ACE Reasonable Synth starts a note whose event lies in the first few dozen
# samples of a block at the block's start, so such a note shows up early by its offset even where
# the MIDI it was given is exact.
# With --follow it plays the pulse with `keyferry play --follow` at the session's tempo instead, and
# also prints where each note falls on the beat grid.
#   scripts/check-in-ardour.sh [--follow]
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}"
follow="${1:-}"

if ! command -v ardour7-lua >/dev/null || [[ ! -d /usr/lib/lv2/reasonablesynth.lv2 ]]; then
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get -qq update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -qq install -y --no-install-recommends ardour ardour-lv2-plugins
fi

"$root/scripts/configure.sh" "$build_dir"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake --build "$build_dir" --target KeyferryReceiver_VST3 keyferry

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME/.vst3"
cp -r "$build_dir/plugin/KeyferryReceiver_artefacts/Release/VST3/Keyferry Receiver.vst3" "$HOME/.vst3/"

# Ardour trusts a scan cache only if it is newer than the module: a copy made in the same second
# as the scan would count as changed since.
touch -d "2 seconds ago" "$HOME/.vst3/Keyferry Receiver.vst3/Contents/x86_64-linux/Keyferry Receiver.so"
LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst3-scanner -f "$HOME/.vst3/Keyferry Receiver.vst3" >/dev/null

python3 "$root/scripts/make-pulse.py" "$work/pulse.mid" 16 500
player="'$build_dir/tools/keyferry/keyferry' play '$work/pulse.mid' 1 --quiet ${follow:+--follow} >'$work/play.log' 2>&1"
ardour7-lua "$root/scripts/ardour/record-pulse.lua" "$work/session" 13 "$player" 120 2>&1 | grep -v '^\[Info\]' || true
cat "$work/play.log"

recording=$(find "$work/session/interchange" -name '*%L.wav' | head -n 1)
python3 "$root/scripts/ardour/onsets.py" "$recording" 500 ${follow:+24000}
