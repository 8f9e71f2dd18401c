#!/usr/bin/env bash
# The whole test suite: builds with warnings as errors and runs every test through CTest in a
# temporary HOME, so no test can touch the user's real table file.
set -euo pipefail

readonly root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly build_dir="${KEYFERRY_BUILD_DIR:-$root/build}"

export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

# run_suite BUILD_DIR CTEST_LABEL_REGEX [cmake arguments...]
run_suite() {
    local dir="$1" labels="$2"
    shift 2
    echo "== configure $dir $*"
    "$root/scripts/configure.sh" "$dir" -DKEYFERRY_WARNINGS_AS_ERRORS=ON "$@"
    echo "== build $dir"
    cmake --build "$dir"
    echo "== test $dir"
    local home
    home=$(mktemp -d)
    HOME="$home" ctest --test-dir "$dir" --output-on-failure -j 2 --timeout 600 ${labels:+--label-regex "$labels"}
    rm -rf "$home"
}

run_suite "$build_dir" ""

# The same tests with AddressSanitizer and UndefinedBehaviorSanitizer, plug-in included.
KEYFERRY_BUILD_TYPE=RelWithDebInfo run_suite "$build_dir-asan" "" -DKEYFERRY_SANITIZER=address

# The in-process tests, the concurrent drain among them, with ThreadSanitizer.
KEYFERRY_BUILD_TYPE=RelWithDebInfo run_suite "$build_dir-tsan" "unit" -DKEYFERRY_SANITIZER=thread
