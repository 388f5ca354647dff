#!/usr/bin/env bash
# Builds the program every way the project builds it, each with its workflow
# preset and that build's own tests, and checks what spans builds. In this order:
#   default, clang, asan  the native workflows, with their tests
#   release               the Linux .tar.gz and the source package
#   docs                  README.md and the packages' texts show the report as
#                         it is, the build preset run prints it alone, and the
#                         docs name only presets that exist
#   source                the source package holds exactly the files git tracks,
#                         and has the same bytes from a clone whose git writes CRLF
#   rebuild-release       the Linux downloads, made again from the source package
#   windows               Untitled3.exe with its tests under Wine, and the ZIP
#   zip-fails             a zip that fails leaves neither a ZIP nor its .sha256
#   rebuild-windows       the ZIP, made again from the source package.
# Each counts as passed, failed or skipped: skipped where a tool that it needs
# is missing, named with the package that brings it, or where its build skipped
# tests. With CI=true a skip fails the run, so CI can never pass on less than
# everything.
set -u -o pipefail
cd "$(dirname "$0")" || exit 1
passed=0 failed=0 skipped=0
# Copies are made in here: its name holds brackets, parentheses and spaces.
tmp=$(mktemp -d -p /dev/shm 'check [2] (otra).XXXXXX' 2>/dev/null || mktemp -d -t 'check [2] (otra).XXXXXX') || exit 1
trap 'rm -rf "$tmp"' EXIT
log=$tmp/log

# The file name, without its ending, of the package a CPack configuration makes.
package() { sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$1"; }

# Runs a build or check and counts it: skipped where a tool that it needs is
# missing or where it returns 77, else passed or failed.
# check NAME [--needs TOOL:PACKAGE]... COMMAND...
check() {
    local name=$1 status=0
    shift
    echo "=== $name"
    while [ "$1" = --needs ]; do
        if ! command -v "${2%%:*}" >/dev/null; then
            echo "no ${2%%:*} (apt-get install ${2#*:})"
            status=77
        fi
        shift 2
    done
    if [ "$status" -eq 0 ]; then
        "$@"
        status=$?
    fi
    case $status in
    0) passed=$((passed + 1)) ;;
    77) echo "=== $name: skipped"; skipped=$((skipped + 1)) ;;
    *) echo "=== $name: failed"; failed=$((failed + 1)) ;;
    esac
}

# A workflow preset; 77 where CTest skipped tests, each named with its reason.
workflow() {
    cmake --workflow --preset "$1" | tee "$log" || return 1
    if grep -q '(Skipped)' "$log"; then
        grep -h '^skipped:' "build/$1/Testing/Temporary/LastTest.log" | sort | uniq -c
        return 77
    fi
}

# The report as README.md shows it, in UTF-8, and as the packages' texts show
# it, as a console does: tabs expanded, indented, no trailing space; as the
# build preset run prints it, alone. Each preset that README.md and HACKING.md
# name exists for its command.
docs() {
    local report doc missing
    report=$(iconv -f ISO-8859-1 -t UTF-8 tests/report.txt) || return 1
    shown() { sed -n 's/\r$//; /^ *Numero de monedas (algoritmo voraz)/,/^ *Numero de monedas (programaci/p' "$1"; }
    diff <(echo "$report") <(shown README.md) || return 1
    for doc in packaging/README.txt packaging/README-Linux.txt; do
        diff <(echo "$report" | expand | sed 's/ *$//; s/^./    &/') <(shown "$doc") || return 1
    done
    cmake --build --preset run | cmp tests/report.txt - || return 1
    # Presets as KIND NAME: those named (cmake --build --preset run is "build run"), and those there are.
    named() {
        grep -ohE '(cmake( --build| --workflow)?|ctest|cpack) --preset [a-z]+' README.md HACKING.md |
            sed -E 's/^cmake --(build|workflow)/\1/; s/^cmake/configure/; s/^ctest/test/; s/^cpack/package/; s/ --preset / /' | LC_ALL=C sort -u
    }
    there() { cmake --list-presets=all | awk '/^Available/ { kind = $2 } /^  "/ { print kind, substr($1, 2, length($1) - 2) }' | LC_ALL=C sort; }
    missing=$(comm -23 <(named) <(there)) || return 1
    if [ -n "$missing" ]; then
        printf '%s\n' "README.md or HACKING.md names presets that do not exist (kind, name):" "$missing"
        return 1
    fi
}

# Made again in a clone whose git writes CRLF line ends (core.autocrlf, as Git
# for Windows does), with the work tree's uncommitted changes and with
# untracked and ignored files (and a build folder out/ that ignores itself),
# the source package holds the files git tracks and SOURCE_DATE_EPOCH alone,
# and has the same bytes.
source_package() (
    local name made copy=$tmp/sources
    name=$(package build/release/CPackSourceConfig.cmake)
    made=$PWD/build/release/$name.tar.gz
    # Checked out last, so that the changes to .gitattributes count too.
    git clone -q --no-checkout -c core.autocrlf=true . "$copy" &&
        git -C "$copy" reset -q "$(git rev-parse HEAD)" &&
        git diff --binary --no-ext-diff --no-color --src-prefix=a/ --dst-prefix=b/ HEAD |
        git -C "$copy" apply --cached --allow-empty --whitespace=nowarn &&
        git -C "$copy" checkout-index -a && cd "$copy" || exit 1
    mkdir out && echo token=abc >.env && touch notes.txt out/CMakeCache.txt && echo '*' >out/.gitignore || exit 1
    cmake --preset release >/dev/null && cpack --preset source >/dev/null || exit 1
    if [ "$(cd build/release && echo Untitled3-*)" != "$name.tar.gz $name.tar.gz.sha256" ]; then
        echo "cpack made more or less than the package and its .sha256"
        exit 1
    fi
    if ! diff <(tar -tzf "build/release/$name.tar.gz" | sed -n "s|^$name/\(.*[^/]\)\$|\1|p" | LC_ALL=C sort) \
        <({ git ls-files && echo SOURCE_DATE_EPOCH; } | LC_ALL=C sort); then
        echo "the source package holds other files than git tracks"
        exit 1
    fi
    cmp "$made" "build/release/$name.tar.gz"
)

# The packages of a build, made again without its tests from the source package
# unpacked elsewhere (on another file system, where /dev/shm is one) with new
# file times and no git history, with no SOURCE_DATE_EPOCH, under umask 077 and
# in another time zone: the same bytes, and the same .sha256, which checks.
# rebuilt PRESET PACKAGE-PRESET...
rebuilt() (
    local ours=$PWD/build/$1 source copy=$tmp/rebuilt-$1 file made
    source=$PWD/build/release/$(package build/release/CPackSourceConfig.cmake).tar.gz
    umask 077
    unset SOURCE_DATE_EPOCH
    export TZ=JST-9
    mkdir "$copy" && tar -xzmf "$source" -C "$copy" --strip-components=1 && cd "$copy" || exit 1
    remade() {
        cmake --preset "$1" && cmake --build --preset "$1" || return 1
        for preset in "${@:2}"; do
            cpack --preset "$preset" || return 1
        done
    }
    if ! remade "$@" >"$copy.log" 2>&1; then
        cat "$copy.log"
        echo "$1 failed in the unpacked source package"
        exit 1
    fi
    cd "build/$1" && made=(Untitled3-*) || exit 1
    if [ ${#made[@]} -ne $((2 * ($# - 1))) ]; then
        echo "made other than a package and its .sha256 for each of ${*:2}: ${made[*]}"
        exit 1
    fi
    for file in "${made[@]}"; do
        cmp "$ours/$file" "$file" || exit 1
    done
    sha256sum --quiet -c ./*.sha256
)

# A zip that writes part of an archive and fails makes cpack fail, and leaves in
# the output folder no ZIP and no .sha256, not even those of an earlier run.
zip_fails() (
    local zip out=$tmp/zip-fails
    zip=$(package build/windows/CPackConfig.cmake).zip
    mkdir -p "$out/bin" && cp "build/windows/$zip" "build/windows/$zip.sha256" "$out" || exit 1
    cat >"$out/bin/zip" <<'STUB' || exit 1
#!/bin/sh
# Reads the names it is given, as zip -@ does, writes a stub into each file
# named in its arguments, then fails.
cat >/dev/null
for arg; do
    case $arg in -*) ;; *) echo stub >"$arg" ;; esac
done
exit 12
STUB
    chmod +x "$out/bin/zip" || exit 1
    if PATH=$out/bin:$PATH cpack --preset windows -B "$out" >"$out/log" 2>&1; then
        echo "cpack passed with a zip that fails"
        exit 1
    fi
    if ! tr -s '\n ' ' ' <"$out/log" | grep -q 'exit status 0, 0, 12'; then
        cat "$out/log"
        echo "cpack failed, but not on zip's status"
        exit 1
    fi
    for file in "$zip" "$zip.sha256"; do
        if [ -e "$out/$file" ]; then
            echo "a zip that fails left $file"
            exit 1
        fi
    done
)

check default workflow default
check clang --needs clang++:clang workflow clang
check asan workflow asan
check release workflow release
check docs docs
check source source_package
check rebuild-release rebuilt release release source
mingw=(--needs x86_64-w64-mingw32-g++-win32:g++-mingw-w64-x86-64-win32 --needs zip:zip)
check windows "${mingw[@]}" workflow windows
check zip-fails "${mingw[@]}" zip_fails
check rebuild-windows "${mingw[@]}" rebuilt windows windows

echo "builds: $passed passed, $failed failed, $skipped skipped"
if [ "$skipped" -ne 0 ]; then
    echo "Every test tool: sudo ./install-deps.sh test"
    if [ "${CI:-}" = true ]; then
        echo "With CI=true, a skip fails the run."
        exit 1
    fi
fi
[ "$failed" -eq 0 ]
