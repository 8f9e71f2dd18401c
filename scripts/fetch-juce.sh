#!/usr/bin/env bash
# Fetches JUCE 8.0.6 as Debian's trixie source package (with Debian's patches applied)
# into a cache folder outside the clone, and prints the unpacked folder.
#
# apt runs with a private configuration: a temporary deb-src entry for trixie whose mirror
# is read from the system's own sources, its own lists and cache folders, and the system's
# keyring. The system's apt configuration is never changed.
set -euo pipefail

readonly juce_version="8.0.6+ds-2"
readonly cache_root="${KEYFERRY_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/keyferry}"
readonly source_dir="$cache_root/juce-$juce_version"

if [[ -f "$source_dir/CMakeLists.txt" ]]; then
    echo "$source_dir"
    exit 0
fi

# The first Debian archive URI the system already uses (deb822 or one-line format).
mirror_uri() {
    local uri
    uri=$(grep -h -E '^[[:space:]]*URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null \
            | awk '{for (i = 2; i <= NF; ++i) print $i}' | grep -E '/debian/?$' | head -n 1 || true)
    if [[ -z "$uri" ]]; then
        uri=$(grep -h -E '^[[:space:]]*deb(-src)?[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
                | sed -E 's/\[[^]]*\]//' | awk '{print $2}' | grep -E '/debian/?$' | head -n 1 || true)
    fi
    echo "$uri"
}

uri=$(mirror_uri)
if [[ -z "$uri" ]]; then
    echo "fetch-juce: no Debian mirror found in the system's apt sources" >&2
    exit 1
fi

keyring=/usr/share/keyrings/debian-archive-keyring.gpg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/archives/partial" "$work/sources.list.d"
cat > "$work/sources.list.d/trixie-src.sources" <<SOURCES
Types: deb-src
URIs: $uri
Suites: trixie
Components: main
Signed-By: $keyring
SOURCES
: > "$work/sources.list"

apt_options=(
    -o "Dir::Etc::SourceList=$work/sources.list"
    -o "Dir::Etc::SourceParts=$work/sources.list.d"
    -o "Dir::State::Lists=$work/lists"
    -o "Dir::Cache=$work/cache"
    -o "Dir::Cache::archives=$work/archives"
    -o "APT::Get::List-Cleanup=0"
    -o "APT::Sandbox::User=$(id -un)"
)

echo "fetch-juce: fetching juce $juce_version" >&2
apt-get "${apt_options[@]}" -qq update >&2
mkdir -p "$cache_root"
download="$work/download"
mkdir -p "$download"
(cd "$download" && apt-get "${apt_options[@]}" -qq source "juce=$juce_version" >&2)

unpacked=$(find "$download" -mindepth 1 -maxdepth 1 -type d -name 'juce-*' | head -n 1)
if [[ ! -f "$unpacked/CMakeLists.txt" ]]; then
    echo "fetch-juce: the source package did not unpack" >&2
    exit 1
fi
rm -rf "$source_dir.partial"
mv "$unpacked" "$source_dir.partial"
mv "$source_dir.partial" "$source_dir"
echo "$source_dir"
