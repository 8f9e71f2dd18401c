#!/usr/bin/env bash
# Installs what building and testing need, idempotently: Debian packages (only the missing
# ones, so a prepared machine touches apt not at all) and the JUCE source in the cache.
# Prints the JUCE folder on its last line.
set -euo pipefail

readonly here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

packages=(
    build-essential cmake ninja-build ccache pkg-config dpkg-dev
    clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev libxcomposite-dev libxrender-dev
    libfreetype-dev libfontconfig1-dev libasound2-dev libpng-dev libjpeg-dev zlib1g-dev
    xvfb xauth binutils-mingw-w64-x86-64 python3 python3-pytest python3-mido
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} > 0)); then
    echo "bootstrap: installing ${missing[*]}" >&2
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get -qq update >&2
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -qq install -y --no-install-recommends "${missing[@]}" >&2
fi

"$here/fetch-juce.sh"
