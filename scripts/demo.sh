#!/usr/bin/env bash
# The main job: builds everything, installs the plug-in into ~/.vst3 (and the tools into
# ~/.local/bin), then loads the installed bundle in our headless host as a self-check.
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}"
readonly vst3_dir="${KEYFERRY_VST3_INSTALL_DIR:-$HOME/.vst3}"

"$root/scripts/configure.sh" "$build_dir" -DKEYFERRY_VST3_INSTALL_DIR="$vst3_dir"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake --build "$build_dir" --target KeyferryReceiver_VST3 keyferry-host
cmake --install "$build_dir" --prefix "$HOME/.local" >/dev/null

readonly bundle="$vst3_dir/Keyferry Receiver.vst3"
echo "installed $bundle"
echo "installed $HOME/.local/bin/keyferry-host"
"$HOME/.local/bin/keyferry-host" check "$bundle"
