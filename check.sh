#!/usr/bin/env bash
# Builds the program every way the project builds it and runs each build's tests:
# g++, clang++, the sanitizers, and the Windows executable under Wine. Checks too
# the README's first command, and the Windows executable as it is released.
# A build whose tools are missing, or whose tests were skipped, counts as skipped;
# with CI=true a skip fails the run, so CI can never pass on less than everything.
set -u -o pipefail
cd "$(dirname "$0")" || exit 1
passed=0 failed=0 skipped=0
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
log=$tmp/log

# Counts a check that passes or fails: check NAME COMMAND...
check() {
    echo "=== $1"
    if "${@:2}"; then
        passed=$((passed + 1))
    else
        echo "=== $1: failed"
        failed=$((failed + 1))
    fi
}

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

# The program alone, with no test tool: its output is the report and nothing else.
run_alone() {
    cmake --preset release >/dev/null && cmake --build --preset run | cmp tests/report.txt -
}

# The Windows executable as released: stripped, needing the system's DLLs only,
# and the same bytes when its sources are copied to another folder and built again.
windows_release() {
    local exe=build/windows/Untitled3.exe copy=$tmp/elsewhere dlls
    x86_64-w64-mingw32-objdump -t "$exe" | grep -qx 'no symbols' || { echo "$exe has symbols"; return 1; }
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | paste -sd ' ')
    [ "$dlls" = "KERNEL32.dll msvcrt.dll" ] || { echo "$exe needs $dlls"; return 1; }
    mkdir "$copy" && tar -c --exclude=./build --exclude=./.git . | tar -x -C "$copy" &&
        (cd "$copy" && cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null) &&
        cmp "$exe" "$copy/$exe" && wc -c "$exe" && sha256sum "$exe"
}

preset default
preset clang
preset asan
check run run_alone
if ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
    echo "=== windows: skipped: no x86_64-w64-mingw32-g++ (apt-get install g++-mingw-w64-x86-64)"
    skipped=$((skipped + 1))
else
    preset windows
    check windows-release windows_release
fi

echo "builds: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && { [ "$skipped" -eq 0 ] || [ "${CI:-}" != true ]; }
