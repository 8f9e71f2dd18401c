#!/usr/bin/env bash
# The whole test suite: builds with warnings as errors and runs the tests through CTest in a
# temporary HOME, so no test can touch the user's real table file. Three configurations:
# plain, AddressSanitizer with UndefinedBehaviorSanitizer, and ThreadSanitizer.
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}"

export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

# run_suite BUILD_DIR LABEL_REGEX "TARGETS" [cmake arguments...]
#   an empty label runs every test, empty targets build everything
run_suite() {
    local dir="$1" labels="$2" targets="$3"
    shift 3
    echo "== configure $dir $*"
    "$root/scripts/configure.sh" "$dir" -DKEYFERRY_WARNINGS_AS_ERRORS=ON "$@"
    echo "== build $dir"
    # shellcheck disable=SC2086
    cmake --build "$dir" ${targets:+--target $targets}
    echo "== test $dir"
    local home
    home=$(mktemp -d)
    HOME="$home" ctest --test-dir "$dir" --output-on-failure -j 2 --timeout 900 ${labels:+--label-regex "$labels"}
    rm -rf "$home"
}

run_suite "$build_dir" "" ""

# Everything again with AddressSanitizer and UndefinedBehaviorSanitizer, plug-in included.
KEYFERRY_BUILD_TYPE=RelWithDebInfo run_suite "$build_dir-asan" "" "" -DKEYFERRY_SANITIZER=address

# The in-process receiver tests, the concurrent drain among them, with ThreadSanitizer.
KEYFERRY_BUILD_TYPE=RelWithDebInfo run_suite "$build_dir-tsan" "^receiver$" "keyferry_tests claim_contender" \
    -DKEYFERRY_SANITIZER=thread

# The sender and C libraries built for Windows and tested under Wine, where the cross compiler is.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && [[ -x /usr/lib/wine/wine64 ]]; then
    echo "== windows"
    KEYFERRY_WINDOWS_BUILD_DIR="$build_dir-windows" "$root/scripts/test-windows.sh"
fi

# The table code and the OSC router under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer.
echo "== fuzz for 60 s each"
"$root/scripts/fuzz.sh" 60
