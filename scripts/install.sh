#!/usr/bin/env bash
# Installs Keyferry for the current user: the plug-in bundle into ~/.vst3 (where VST3 hosts on
# Linux look), `keyferry` and `keyferry-host` into ~/.local/bin, libkeyferry with keyferry.h,
# pkg-config and CMake package files under ~/.local, and the Python package `keyferry` into the
# user's site-packages of the `python3` on the PATH. Builds what it installs first.
#   scripts/install.sh
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}"
readonly vst3_dir="${KEYFERRY_VST3_INSTALL_DIR:-$HOME/.vst3}"
readonly prefix="$HOME/.local"

"$root/scripts/configure.sh" "$build_dir" -DKEYFERRY_VST3_INSTALL_DIR="$vst3_dir"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake --build "$build_dir" --target KeyferryReceiver_VST3 keyferry-host keyferry keyferry_c keyferry_c_static
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

site=$(python3 -c 'import site; print(site.getusersitepackages())')
mkdir -p "$site"
rm -rf "$site/keyferry"
cp -r "$root/python/keyferry" "$site/keyferry"
find "$site/keyferry" -name '__pycache__' -prune -exec rm -rf {} +

echo "installed $vst3_dir/Keyferry Receiver.vst3"
echo "installed $prefix/bin/keyferry and $prefix/bin/keyferry-host"
echo "installed libkeyferry, keyferry.h, keyferry.pc and the Keyferry CMake package under $prefix"
echo "installed the Python package keyferry into $site"
