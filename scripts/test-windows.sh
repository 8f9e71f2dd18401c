#!/usr/bin/env bash
# Builds the sender library, the C library and their tests for 64-bit Windows with Debian's
# MinGW-w64 and runs the tests under Debian's Wine. Installs the two (idempotently) when run by
# hand; scripts/test.sh runs it where the cross compiler is there. The plug-in itself is not
# built: its framework needs the Windows SDK.
#   scripts/test-windows.sh
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_WINDOWS_BUILD_DIR:-$root/build-windows}"

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [[ ! -x /usr/lib/wine/wine64 ]]; then
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get -qq update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -qq install -y --no-install-recommends wine64 g++-mingw-w64-x86-64-posix
fi

export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKEYFERRY_PORTABLE_ONLY=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DKEYFERRY_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build_dir"

# A Wine prefix of the project's own, made once (about 8 s) and kept in the cache.
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/keyferry/wine}" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
ctest --test-dir "$build_dir" --output-on-failure
