#!/usr/bin/env bash
# Builds the program every way the project builds it, each with its workflow
# preset and that build's own tests, and checks what spans builds. In this order:
#   default, clang, asan  the native workflows, with their tests
#   release               the Linux .tar.gz and the source package
#   docs                  README.md and the packages' texts show the report as
#                         it is, the build preset run prints it alone, and every
#                         preset that the docs name, in a command or a table,
#                         exists
#   source                the source package holds exactly the files git tracks,
#                         and has the same bytes from a clone whose git writes CRLF
#   rebuild-release       the Linux downloads, made again from the source package
#   windows               Untitled3.exe with its tests under Wine, and the ZIP
#   zip-fails             a zip that fails leaves neither a ZIP nor its .sha256
#   rebuild-windows       the ZIP, made again from the source package
#   release-refusals      release.sh with a stand-in Debian that gives back the
#                         downloads above: a release made, that verify holds
#                         whatever the caller's git and tar settings, and each
#                         fault planted in it found before anything is built.
# Each counts as passed, failed or skipped: skipped where a tool that it needs
# is missing, named with the package that brings it, or where its build skipped
# tests. With CI=true a skip fails the run, so CI can never pass on less than
# everything. A usage error (any argument) exits 2.
set -u -o pipefail
if [ $# -ne 0 ]; then echo "usage: ./check.sh" >&2; exit 2; fi
cd "$(dirname "$0")" || exit 1
# git reads the project as it is, whatever the caller's settings and attributes.
unset "${!GIT_@}"
export GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null GIT_ATTR_NOSYSTEM=1 \
    GIT_NO_REPLACE_OBJECTS=1 GIT_CONFIG_COUNT=1 GIT_CONFIG_KEY_0=core.attributesFile \
    GIT_CONFIG_VALUE_0=/dev/null
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
    # Presets as KIND NAME: those named in a command (cmake --build --preset run is "build run")
    # or in a table whose first column is headed by the kind, and those there are.
    named() {
        {
            grep -ohE '(cmake( --build| --workflow)?|ctest|cpack) --preset [a-z]+' README.md HACKING.md |
                sed -E 's/^cmake --(build|workflow)/\1/; s/^cmake/configure/; s/^ctest/test/; s/^cpack/package/; s/ --preset / /'
            awk -F'|' '!/^\|/ { kind = "" } /^\|/ { cell = $2; gsub(/[ `]/, "", cell) }
                /^\|/ && kind && cell !~ /^-+$/ { print kind, cell }
                /^\|/ && cell ~ /^(configure|build|test|package|workflow)$/ { kind = cell }' README.md HACKING.md
        } | LC_ALL=C sort -u
    }
    there() { cmake --list-presets=all | awk '/^Available/ { kind = $2 } /^  "/ { print kind, substr($1, 2, length($1) - 2) }' | LC_ALL=C sort; }
    missing=$(comm -23 <(named) <(there)) || return 1
    if [ -n "$missing" ]; then
        printf '%s\n' "README.md or HACKING.md names presets that do not exist (kind, name):" "$missing"
        return 1
    fi
}

# A clone of HEAD in COPY with the work tree's uncommitted changes, checked out
# last, so that the changes to .gitattributes count too: work_tree COPY [GIT-OPTION]...
work_tree() {
    git clone -q --no-checkout "${@:2}" . "$1" && git -C "$1" reset -q "$(git rev-parse HEAD)" &&
        git diff --binary --no-ext-diff --no-color --src-prefix=a/ --dst-prefix=b/ HEAD |
        git -C "$1" apply --cached --allow-empty --whitespace=nowarn && git -C "$1" checkout-index -a
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
    work_tree "$copy" -c core.autocrlf=true && cd "$copy" || exit 1
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

# A download NAME replaced by the caller: its .sha256 and its line in the record made again.
replaced() {
    sha256sum "$1" >"$1.sha256"
    sed -i "s/^ .* $1\$/ $(cut -c1-64 "$1.sha256") $(stat -c %s "$1") $1/" ./*.buildinfo
}
other_sha256() { cp ./*-Linux.tar.gz.sha256 ./*-win64.zip.sha256; }
forged_zip() { # the .tar.gz as the ZIP, its .sha256, and the record's line of the .tar.gz twice
    cp ./*-Linux.tar.gz ./*-win64.zip && replaced "$(echo *-win64.zip)"
    sed -i "s/^ .*-win64.zip\$/$(grep -- '-Linux.tar.gz$' ./*.buildinfo)/" ./*.buildinfo
}
newline_folder() { # a second top folder, named "TOP\nTOP", with a CMakeLists.txt of its own
    local source top
    source=$(echo *-Source.tar.gz) && top=${source%.tar.gz} && mkdir -p "x/$top"$'\n'"$top"
    echo 'message(FATAL_ERROR "forged")' >"x/$top"$'\n'"$top/CMakeLists.txt"
    tar -xzf "$source" -C x && tar -czf "$source" -C x . && rm -rf x && replaced "$source"
}
many_members() { # 10,001 members of one name
    touch x && seq 10001 | sed 's/.*/x/' | tar -czf ./*-Source.tar.gz -T - && rm x &&
        replaced "$(echo *-Source.tar.gz)"
}
nul_archive() { printf '/^Build-Archives:$/a\\\n deb http://127.0.0.1/x bookworm main\\x00\n' | sed -i -f - ./*.buildinfo; }
esc_commit() { sed -i 's/^Commit: .*/&\r\x1b[2K\x1b[8m/' ./*.buildinfo; }
no_field() { sed -i '/^Build-Date: /a this is no field' ./*.buildinfo; }
zip_link() { local zip; zip=$(echo *.zip) && mv "$zip" ../zip && ln -s ../zip "$zip"; }
future_build() { sed -i "s/^Build-Date: .*/Build-Date: $(date -u -R -d '1 day')/" ./*.buildinfo; }
tuesday() { sed -i 's/^Build-Date: .*/Build-Date: Tue, 01 Jan 2024 00:00:00 +0000/' ./*.buildinfo; }
big_source() { head -c 1048577 /dev/zero >"$(echo *-Source.tar.gz)"; }
gzip_inside() { gzip -dc ./*-Source.tar.gz | gzip | gzip >x && mv x ./*-Source.tar.gz; }
setup_exe() { echo MZ >"$(echo *-win64.zip | sed 's/zip$/setup.exe/')"; }

# release.sh with a stand-in mmdebstrap first on PATH, which gives back the downloads above, an
# archive's dates and two packages as its Debian's: make writes a release of the work tree,
# committed in a copy, which verify holds whatever the caller's git and tar settings say; in a
# copy of it, verify finds each planted fault, building nothing, in 22 lines of 200 bytes at most.
release_refusals() (
    local status copy=$tmp/release stub=$tmp/stand-in
    work_tree "$copy" && git -C "$copy" -c user.name=check -c user.email=check@invalid \
        commit -q --allow-empty -m "the work tree" || exit 1
    mkdir -p "$stub/bin" "$stub/debian" && cp build/{windows,release}/Untitled3-* "$stub/debian" &&
        LC_ALL=C date -u -d '1 hour ago' '+bookworm: %a, %d %b %Y %T UTC' |
        sed 'p; s/:/-updates:/; p; s/-updates/-security/' >"$stub/debian/dates" &&
        printf '%s\n' 'cmake:amd64 (= 3.25.1-1)' 'zip:amd64 (= 3.0-13)' >"$stub/debian/packages" || exit 1
    # shellcheck disable=SC2016 # the stand-in's own code, which copies into sync-out's folder
    printf '%s\n' '#!/bin/sh' 'for a; do case $a in *=sync-out*) out=${a##* } ;; esac; done' \
        'mkdir -p "$out" && cp "${0%/*}"/../debian/* "$out/" && echo >>"${0%/*}/../built"' \
        >"$stub/bin/mmdebstrap" && chmod +x "$stub/bin/mmdebstrap" || exit 1
    export PATH=$stub/bin:$PATH
    "$copy/release.sh" make 2>/dev/null && status=0 || status=$?
    if [ "$status" -ne 2 ]; then echo "release.sh make: status $status for a usage error"; exit 1; fi
    "$copy/release.sh" make "$tmp/made" >"$tmp/log" 2>&1 || { cat "$tmp/log"; exit 1; }
    # A user whose git leaves LICENSE out of archives, and a tar that lists what it reads.
    mkdir -p "$tmp/home/.config/git" && echo 'LICENSE export-ignore' |
        tee "$copy/.git/info/attributes" >"$tmp/home/.config/git/attributes" || exit 1
    HOME=$tmp/home GIT_DIR=$tmp TAR_OPTIONS=-v POSIXLY_CORRECT=1 "$copy/release.sh" verify \
        "$tmp/made" >"$tmp/log" 2>&1 || { cat "$tmp/log"; echo "verify: it does not hold"; exit 1; }
    # verify on a copy planted by FUNCTION ends with STATUS and a line WANTED: plant STATUS WANTED FUNCTION
    plant() {
        rm -rf "$tmp/plant" "$stub/built" && cp -r "$tmp/made" "$tmp/plant" && (cd "$tmp/plant" && "$3") || exit 1
        "$copy/release.sh" verify "$tmp/plant" >"$tmp/log" 2>&1 && status=0 || status=$?
        if [ "$status" -ne "$1" ] || ! grep -q "$2" "$tmp/log" || [ -e "$stub/built" ] ||
            grep -qv '^release.sh: ' "$tmp/log" || [ "$(wc -l <"$tmp/log")" -gt 22 ] ||
            [ "$(wc -L <"$tmp/log")" -gt 200 ]; then
            cat "$tmp/log" && echo "verify with $3: not $1 and '$2' in 22 lines of its own, unbuilt"
            exit 1
        fi
    }
    plant 1 'win64.zip.sha256: not the line' other_sha256
    plant 1 'Checksums-Sha256 lists [^ ]*Linux\.tar\.gz [^ ]*Linux\.tar\.gz' forged_zip
    plant 1 'Source.tar.gz: a name with a character that may hide it' newline_folder
    plant 1 'Source.tar.gz: more than 10,000 members' many_members
    plant 1 'line 10: not printable ASCII' nul_archive
    plant 1 'line 4: not printable ASCII' esc_commit
    plant 1 "line 8: 'this is no field', where make writes" no_field
    plant 1 'win64.zip: a symbolic link' zip_link
    plant 2 "clock is behind the record's Build-Date" future_build
    plant 1 "Build-Date before the commit's" tuesday
    plant 1 'Source.tar.gz: more than 1048576 bytes' big_source
    plant 1 'Source.tar.gz: not a .tar.gz that can be read' gzip_inside
    plant 1 'a file that no release holds: Untitled3-.*-win64.setup.exe' setup_exe
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
check release-refusals "${mingw[@]}" release_refusals

echo "builds: $passed passed, $failed failed, $skipped skipped"
if [ "$skipped" -ne 0 ]; then
    echo "Every test tool: sudo ./install-deps.sh test"
    if [ "${CI:-}" = true ]; then
        echo "With CI=true, a skip fails the run."
        exit 1
    fi
fi
[ "$failed" -eq 0 ]
