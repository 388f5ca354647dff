#!/usr/bin/env bash
# Builds the program every way the project builds it and runs each build's tests:
# g++, clang++, the sanitizers, and the Windows executable under Wine.
# A build whose tools are missing, or whose tests were skipped, counts as skipped;
# with CI=true a skip fails the run, so CI can never pass on less than everything.
set -u -o pipefail
cd "$(dirname "$0")" || exit 1
passed=0 failed=0 skipped=0
log=$(mktemp) || exit 1
trap 'rm -f "$log"' EXIT

preset() {
    echo "=== $1"
    if ! { cmake --preset "$1" && cmake --build --preset "$1" && ctest --preset "$1" | tee "$log"; }; then
        echo "=== $1: failed"
        failed=$((failed + 1))
    elif grep -q '(Skipped)' "$log"; then
        echo "=== $1: some tests were skipped:"
        grep -h '^skipped:' "build/$1/Testing/Temporary/LastTest.log" | sort | uniq -c
        skipped=$((skipped + 1))
    else
        passed=$((passed + 1))
    fi
}

preset default
preset clang
preset asan
if ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
    echo "=== windows: skipped: no x86_64-w64-mingw32-g++ (apt-get install g++-mingw-w64-x86-64)"
    skipped=$((skipped + 1))
else
    preset windows
fi

echo "presets: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && { [ "$skipped" -eq 0 ] || [ "${CI:-}" != true ]; }
