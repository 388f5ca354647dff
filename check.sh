#!/usr/bin/env bash
# Builds the program every way the project builds it and runs each build's tests:
# g++, clang++, the sanitizers, and the Windows executable under Wine. Checks too
# the build and run of the README's first command, the source package, the
# report as the READMEs show it, and the Windows executable as it is released.
# A build whose tools or libraries are missing, or whose tests were skipped,
# counts as skipped, with the package that brings what it lacks; with CI=true a
# skip fails the run, so CI can never pass on less than everything.
set -u -o pipefail
cd "$(dirname "$0")" || exit 1
passed=0 failed=0 skipped=0
# Packages are made in here too: its name holds brackets, parentheses and spaces.
tmp=$(mktemp -d -p /dev/shm 'check [2] (otra).XXXXXX' 2>/dev/null || mktemp -d -t 'check [2] (otra).XXXXXX') || exit 1
trap 'rm -rf "$tmp"' EXIT
log=$tmp/log

# Whether a tool is here; where not, counts the build as skipped and names the
# package to install: have NAME TOOL PACKAGE
have() {
    command -v "$2" >/dev/null && return
    echo "=== $1: skipped: no $2 (apt-get install $3)"
    skipped=$((skipped + 1))
    return 1
}

# The file name, without its ending, of the package a CPack configuration makes.
package() { sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$1"; }

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
# Of the system it needs the C library alone, glibc 2.34 or later, as the README says.
run_alone() {
    local exe=build/release/Untitled3
    cmake --preset release >/dev/null && cmake --build --preset run | cmp tests/report.txt - || return 1
    [ "$(LC_ALL=C objdump -p "$exe" | awk '$1 == "NEEDED" { print $2 }')" = libc.so.6 ] &&
        [ "$(LC_ALL=C objdump -T "$exe" | grep -o 'GLIBC_[0-9.]*' | sort -V | tail -n 1)" = GLIBC_2.34 ] ||
        { echo "$exe needs more than glibc 2.34"; return 1; }
}

# The source package: one .tar.gz of exactly the files git tracks, and the file
# that carries their date, from a copy of the sources that holds files untracked
# and ignored too (a build folder out/ that ignores itself); the same bytes as here.
source_package() (
    local out=$tmp/source name
    name=$(package build/release/CPackSourceConfig.cmake)
    cpack --config build/release/CPackSourceConfig.cmake -B "$tmp/made" >/dev/null || exit 1
    mkdir "$tmp/copy" && tar -c --exclude=./build . | tar -x -C "$tmp/copy" && cd "$tmp/copy" || exit 1
    mkdir out && echo token=abc >.env && touch notes.txt out/CMakeCache.txt && echo '*' >out/.gitignore || exit 1
    cmake --preset release >/dev/null && cpack --config build/release/CPackSourceConfig.cmake -B "$out" >/dev/null &&
        [ "$(cd "$out" && echo Untitled3-*)" = "$name.tar.gz $name.tar.gz.sha256" ] &&
        diff <(tar -tzf "$out/$name.tar.gz" | sed -n "s|^$name/\(.*[^/]\)\$|\1|p" | LC_ALL=C sort) \
            <({ git ls-files && echo SOURCE_DATE_EPOCH; } | LC_ALL=C sort) &&
        cmp "$tmp/made/$name.tar.gz" "$out/$name.tar.gz"
)

# The report as README.md and the packages' texts show it: in UTF-8, and in the
# texts as a console shows it, with tabs expanded, indented and no trailing space.
shown_report() {
    local report doc
    report=$(iconv -f ISO-8859-1 -t UTF-8 tests/report.txt) || return 1
    shown() { sed -n 's/\r$//; /^ *Numero de monedas (algoritmo voraz)/,/^ *Numero de monedas (programaci/p' "$1"; }
    diff <(echo "$report") <(shown README.md) || return 1
    for doc in packaging/README.txt packaging/README-Linux.txt; do
        diff <(echo "$report" | expand | sed 's/ *$//; s/^./    &/') <(shown "$doc") || return 1
    done
}

# The Windows executable as released: stripped and needing the system's DLLs only.
# It and its ZIP, which checks against the checksum beside it, and the source
# package itself come out byte for byte the same from the source package
# unpacked elsewhere (on another file system, where /dev/shm is one), with new
# file times, no git history and no SOURCE_DATE_EPOCH, built and packaged under
# umask 077 in another time zone. There, a zip that writes a stub and fails
# leaves neither a ZIP nor a checksum.
windows_release() {
    local exe=build/windows/Untitled3.exe zip copy src dlls
    zip=build/windows/$(package build/windows/CPackConfig.cmake).zip
    copy=$tmp/$(package build/release/CPackSourceConfig.cmake) src=${copy##*/}.tar.gz
    LC_ALL=C x86_64-w64-mingw32-objdump -t "$exe" | grep -qx 'no symbols' || { echo "$exe has symbols"; return 1; }
    dlls=$(LC_ALL=C x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | paste -sd ' ')
    [ "$dlls" = "KERNEL32.dll msvcrt.dll" ] || { echo "$exe needs $dlls"; return 1; }
    cpack --preset windows >/dev/null && (cd "${zip%/*}" && sha256sum -c "${zip##*/}.sha256") || return 1
    cpack --config build/release/CPackSourceConfig.cmake -B "$tmp/made" >/dev/null &&
        tar -xzmf "$tmp/made/$src" -C "$tmp" &&
        (umask 077 && cd "$copy" && unset SOURCE_DATE_EPOCH && cmake --preset windows >/dev/null &&
            cmake --build --preset windows >/dev/null && TZ=JST-9 cpack --preset windows >/dev/null &&
            cmake --preset release >/dev/null && cpack --config build/release/CPackSourceConfig.cmake >/dev/null) &&
        cmp "$exe" "$copy/$exe" && cmp "$zip" "$copy/$zip" && cmp "$tmp/made/$src" "$copy/build/release/$src" &&
        wc -c "$exe" "$zip" && sha256sum "$exe" "$zip" || return 1
    mkdir "$tmp/bin" && printf '#!/bin/sh\necho stub >"$5"; exit 12\n' >"$tmp/bin/zip" && chmod +x "$tmp/bin/zip" &&
        ! (cd "$copy" && PATH=$tmp/bin:$PATH cpack --preset windows >/dev/null 2>&1) &&
        [ ! -e "$copy/$zip" ] && [ ! -e "$copy/$zip.sha256" ] ||
        { echo "a zip that fails: cpack passed, or left the ZIP or its checksum"; return 1; }
}

preset default
have clang clang++ clang && preset clang
preset asan
check run run_alone
check source source_package
check docs shown_report
if have windows x86_64-w64-mingw32-g++-win32 g++-mingw-w64-x86-64-win32; then
    preset windows
    have windows-release zip zip && check windows-release windows_release
fi

echo "builds: $passed passed, $failed failed, $skipped skipped"
[ "$skipped" -eq 0 ] || echo "Every test tool: sudo ./install-deps.sh test"
[ "$failed" -eq 0 ] && { [ "$skipped" -eq 0 ] || [ "${CI:-}" != true ]; }
