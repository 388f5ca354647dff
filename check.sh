#!/usr/bin/env bash
# Builds the program every way the project builds it and runs each build's tests:
# g++, clang++, the sanitizers, and the Windows executable under Wine. Checks too
# the README's first command, and the Windows executable as it is released.
# A build whose tools are missing, or whose tests were skipped, counts as skipped;
# with CI=true a skip fails the run, so CI can never pass on less than everything.
set -u -o pipefail
cd "$(dirname "$0")" || exit 1
passed=0 failed=0 skipped=0
tmp=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d) || exit 1
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

# The source package: one .tar.gz with the sources and none of build/ or .git/.
source_package() {
    local out=$tmp/source names
    cpack --config build/release/CPackSourceConfig.cmake -B "$out" >/dev/null &&
        [ "$(cd "$out" && echo Untitled3-*)" = "Untitled3-1.0-Source.tar.gz Untitled3-1.0-Source.tar.gz.sha256" ] &&
        names=$(tar -tzf "$out/Untitled3-1.0-Source.tar.gz") && grep -x '[^/]*/src/Untitled3.cpp' <<<"$names" &&
        ! grep -E '^[^/]*/(build|\.git)/' <<<"$names"
}

# The Windows executable as released: stripped and needing the system's DLLs only.
# It and its ZIP, which checks against the checksum beside it, come out byte for
# byte the same from a copy of the sources built and packaged later, in another
# folder (on another file system, where /dev/shm is one), under umask 077 and in
# another time zone. The copy keeps the git history, whose last commit dates both.
windows_release() {
    local exe=build/windows/Untitled3.exe zip=build/windows/Untitled3-1.0-win64.zip copy=$tmp/elsewhere dlls
    x86_64-w64-mingw32-objdump -t "$exe" | grep -qx 'no symbols' || { echo "$exe has symbols"; return 1; }
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | paste -sd ' ')
    [ "$dlls" = "KERNEL32.dll msvcrt.dll" ] || { echo "$exe needs $dlls"; return 1; }
    cpack --preset windows >/dev/null && (cd "${zip%/*}" && sha256sum -c "${zip##*/}.sha256") &&
        mkdir "$copy" && tar -c --exclude=./build . | tar -x -C "$copy" &&
        (umask 077 && cd "$copy" && cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null &&
            TZ=JST-9 cpack --preset windows >/dev/null) &&
        cmp "$exe" "$copy/$exe" && cmp "$zip" "$copy/$zip" && wc -c "$exe" "$zip" && sha256sum "$exe" "$zip"
}

preset default
preset clang
preset asan
check run run_alone
check source source_package
if ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
    echo "=== windows: skipped: no x86_64-w64-mingw32-g++ (apt-get install g++-mingw-w64-x86-64)"
    skipped=$((skipped + 1))
else
    preset windows
    check windows-release windows_release
fi

echo "builds: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && { [ "$skipped" -eq 0 ] || [ "${CI:-}" != true ]; }
