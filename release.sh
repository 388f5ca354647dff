#!/usr/bin/env bash
# A release made from the last commit alone in a fresh Debian 12 made for it,
# and made again later from its published files. As root, with mmdebstrap, on
# an x86-64 (amd64) Debian, from any folder, called by any path:
#   sudo ./release.sh make DIR
#     Refuses a machine that is not amd64, a DIR that is a file, is not empty
#     or cannot be made or written, and a work tree whose tracked files have
#     uncommitted changes. Clones the last commit into the Debian, installs
#     there what install-deps.sh lists for a release, and runs the workflows
#     windows (with its tests under Wine) and release. Writes into DIR the three
#     downloads, their .sha256 and Untitled3-X.Y.buildinfo, the record of the
#     build: the commit and its date, the archives and their dates, every
#     package installed with its version and architecture, and the downloads'
#     sums and sizes. DIR gets them all or none, owned by the user of sudo.
#   sudo ./release.sh verify DIR [SOURCE...]
#     Trusts the clone of the project that holds this script, and nothing in
#     DIR. With nothing built, it checks that each .sha256 is the line that
#     CPack writes for its own download, that each download has the record's
#     sum and size, that the record's commit is in the clone and its
#     architecture this machine's, and that the source package holds exactly
#     that commit's files. Then it makes a Debian of exactly the record's
#     packages, builds the source package there without its tests, and compares
#     each download byte for byte. The packages come from the record's archives,
#     or from the apt lines SOURCE ('deb URI SUITE COMPONENT'): once Debian has
#     moved on, from its snapshot archive of the build's date, which the message
#     then gives.
# Exits, for make: 0 made, 1 not made. For verify: 0 the release holds; 1 it
# does not, each fault named; 2 no verdict: a usage error, a version that the
# archive lacks, a commit or architecture that is not here, or a step that
# could not run. A signal (INT, TERM, HUP) ends either with 128 + its number,
# leaving nothing behind. Every failure ends with a line "release.sh: ...".
set -eEu -o pipefail
shopt -s nullglob
umask 022 # the same files, whatever the caller's umask
self=$(realpath -- "$0")
here=${self%/*}
if [ "${1:-}" = verify ]; then cannot=2; else cannot=1; fi # a step that could not run

fail() {
    echo "release.sh: $*" >&2
    exit "$cannot"
}
# A command that failed unchecked ends the script too, as its own failure.
trap 'if [ "$BASHPID" = $$ ]; then echo "release.sh: could not run: $BASH_COMMAND" >&2; fi; exit "$cannot"' ERR

# Words quoted for a shell, to be pasted: quote WORD...
quote() {
    local word quoted=()
    for word; do quoted+=("'${word//\'/\'\\\'\'}'"); done
    echo "${quoted[*]}"
}

usage() { fail "usage: sudo $(quote "$self") make DIR | verify DIR [SOURCE...]"; }
case ${1:-} in
make) [ $# -eq 2 ] || usage ;;
verify) [ $# -ge 2 ] || usage ;;
*) usage ;;
esac
[ -n "$2" ] || fail "DIR is an empty word: name a folder"
[ "$(id -u)" -eq 0 ] || fail "run it as root: sudo $(quote "$self" "$@")"
command -v mmdebstrap >/dev/null || fail "no mmdebstrap (apt-get install mmdebstrap)"
# shellcheck source-path=SCRIPTDIR source=debian-root.sh
. "$here/debian-root.sh"
in_namespace "$@" || fail "cannot make a work folder in /var/tmp"
dir=$(realpath -m -- "$2")
arch=$(dpkg --print-architecture 2>/dev/null) || arch=unknown
cd "$here"

# git in the clone, as root in a work tree that may be a user's: it writes nothing there.
repo() { GIT_OPTIONAL_LOCKS=0 git -c safe.directory="$here" -C "$here" "$@"; }

# Every package installed in the Debian, a line each: NAME:ARCH (= VERSION)
packages() {
    # shellcheck disable=SC2016 # dpkg-query's own ${fields}
    chroot "$root" dpkg-query -W -f '${db:Status-Abbrev} ${Package}:${Architecture} (= ${Version})\n' |
        sed -n 's/^ii  *//p' | LC_ALL=C sort
}

# A file's SHA-256 and size, as the record gives them: sum_size FILE
sum_size() { echo "$(sha256sum <"$1" | cut -c1-64) $(stat -c %s "$1")"; }

# Each file and folder below a folder, a line each, sorted: its path, a tab, and
# "folder", or x or - (executable or not) and the SHA-256 of its bytes, or "other".
manifest() (
    cd "$1" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | while IFS= read -r path; do
        if [ -L "$path" ]; then
            kind=other
        elif [ -d "$path" ]; then
            kind=folder
        elif [ -f "$path" ]; then
            if [ -x "$path" ]; then kind=x; else kind=-; fi
            kind="$kind $(sha256sum <"$path" | cut -c1-64)"
        else
            kind=other
        fi
        printf '%s\t%s\n' "$path" "$kind"
    done
)

# How the source package differs from the commit's files, with SOURCE_DATE_EPOCH
# holding the commit's date, a line each: source_differs PACKAGE COMMIT
source_differs() {
    local top=${1##*/} at=$work/source path want got
    top=${top%.tar.gz}
    # Unpacked where no one else can reach what it may hold.
    mkdir -m 700 "$at" && mkdir "$at/commit" "$at/package" &&
        repo -c core.autocrlf=false archive --prefix="$top/" "$2" | tar -x -C "$at/commit" &&
        repo log -1 --format=%ct "$2" >"$at/commit/$top/SOURCE_DATE_EPOCH" || return 1
    if ! tar -xzf "$1" -C "$at/package" --no-same-owner 2>/dev/null; then
        echo "cannot be unpacked"
        return
    fi
    LC_ALL=C join -t $'\t' -a 1 -a 2 -e none -o 0,1.2,2.2 <(manifest "$at/commit") <(manifest "$at/package") |
        while IFS=$'\t' read -r path want got; do
            if [ "$want" = none ]; then
                echo "adds $path, which the commit does not hold"
            elif [ "$got" = none ]; then
                echo "lacks $path"
            elif [ "$want" != "$got" ]; then
                echo "changes $path: its bytes or its mode are not the commit's"
            fi
        done
}

# DIR, as make finds it: new or empty, and writable, which it tries and undoes.
writable_dir() {
    local new=
    if [ -e "$dir" ] && [ ! -d "$dir" ]; then fail "$dir is a file, not a folder"; fi
    if [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then fail "$dir is not empty"; fi
    if [ ! -d "$dir" ]; then
        mkdir -p "$dir" 2>/dev/null || fail "cannot make the folder $dir"
        new=1
    fi
    if ! head -c 1M /dev/zero 2>/dev/null >"$dir/.release.sh-try"; then
        rm -f "$dir/.release.sh-try"
        if [ -n "$new" ]; then rmdir "$dir"; fi
        fail "cannot write into $dir: no room, or a file system that is read-only"
    fi
    rm "$dir/.release.sh-try"
    if [ -n "$new" ]; then rmdir "$dir"; fi
}

make_release() {
    local changed src version commit list download downloads=() record file made=() held=
    if [ "$arch" != amd64 ]; then fail "this machine is $arch: the downloads are x86-64, made on amd64"; fi
    writable_dir
    changed=$(repo status --porcelain --untracked-files=no) || fail "git cannot read $here"
    if [ -n "$changed" ]; then
        fail "a release is made from the last commit alone; commit or stash the changes to:"$'\n'"$changed"
    fi

    debian_root --variant=minbase --include=git --skip=cleanup/apt/lists bookworm ||
        fail "mmdebstrap could not make the Debian"
    repo bundle create -q "$root/home/dev/commit.bundle" HEAD || fail "git could not bundle the last commit"
    as_dev git -c advice.detachedHead=false clone -q /home/dev/commit.bundle /home/dev/src ||
        fail "git could not clone the last commit in the Debian"
    as_root /home/dev/src/install-deps.sh release || fail "the Debian could not install what install-deps.sh lists"
    as_dev bash -c 'cd ~/src && cmake --workflow --preset windows && cmake --workflow --preset release' ||
        fail "the workflows failed"

    src=$root/home/dev/src
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$src/build/release/CPackConfig.cmake")
    commit=$(as_dev git -C /home/dev/src log -1 --format='%H%n%cI (%ct)')
    record=$root/home/dev/Untitled3-$version.buildinfo
    downloads=("$src"/build/windows/*.zip "$src"/build/release/*.tar.gz)
    [ ${#downloads[@]} -eq 3 ] || fail "the workflows made other than three downloads: ${downloads[*]}"
    {
        echo "Format: 1.0"
        echo "Source: Untitled3"
        echo "Version: $version"
        echo "Commit: ${commit%%$'\n'*}"
        echo "Commit-Date: ${commit#*$'\n'}"
        echo "Build-Suite: bookworm"
        echo "Build-Architecture: $(chroot "$root" dpkg --print-architecture)"
        echo "Build-Date: $(date -u -R)"
        echo "Build-Archives:"
        sed -n 's/^deb / &/p' "$root/etc/apt/sources.list"
        echo "Archive-Dates:"
        for list in "$root"/var/lib/apt/lists/*_InRelease; do
            echo " $(sed -n 's/^Codename: //p' "$list"): $(sed -n 's/^Date: //p' "$list")"
        done
        echo "Checksums-Sha256:"
        for download in "${downloads[@]}"; do
            echo " $(sum_size "$download") ${download##*/}"
        done
        echo "Installed-Build-Depends:"
        packages | sed 's/^/ /; $!s/$/,/'
    } >"$record"

    # Into DIR whole or not at all: a signal meanwhile waits for the end.
    mkdir -p "$dir" || fail "cannot make the folder $dir"
    trap 'held=INT' INT
    trap 'held=TERM' TERM
    trap 'held=HUP' HUP
    for file in "${downloads[@]}" "${downloads[@]/%/.sha256}" "$record"; do
        made+=("$dir/${file##*/}")
        if ! cp "$file" "$dir/"; then
            rm -f "${made[@]}"
            fail "could not write ${file##*/} into $dir"
        fi
    done
    if [ -n "${SUDO_UID:-}" ]; then chown "$SUDO_UID:${SUDO_GID-}" "$dir" "${made[@]}"; fi
    if [ -n "$held" ]; then
        rm -f "${made[@]}"
        interrupted "$held"
    fi
    (cd "$dir" && sha256sum -- *)
    echo "release.sh: Untitled3 $version, commit ${commit%%$'\n'*}, made in $dir"
}

verify_release() {
    local records record commit built sum size name source='' faults=() unsure=() wanted remade snapshot lines line tags
    local mirrors=("${@:3}")
    if [ "$(repo rev-parse --show-toplevel 2>/dev/null)" != "$here" ]; then
        fail "verify trusts the project's history alone, so it runs from a clone of the project, and $here is none" \
            "(an unpacked source package?). Clone the project's repository, check out the release's tag (git" \
            "checkout vX.Y) and run the release.sh there, never the one of the files under check."
    fi
    [ -d "$dir" ] || fail "no folder $dir"
    records=("$dir"/Untitled3-*.buildinfo)
    [ ${#records[@]} -eq 1 ] || fail "$dir holds ${#records[@]} records Untitled3-X.Y.buildinfo, where a release has one"
    record=${records[0]}
    # The lines of a field of the record, without their lead space or comma.
    field() { awk -v f="$1:" '/^[^ ]/ { on = $1 == f } on && /^ / { sub(/^ /, ""); sub(/,$/, ""); print }' "$record"; }
    value() { sed -n "s/^$1: //p" "$record"; }
    # The verdict that the release does not hold, each fault named: does_not_hold [WHEN]
    does_not_hold() {
        printf 'release.sh: %s\n' "${faults[@]}" "${unsure[@]}" >&2
        echo "release.sh: the release in $dir does not hold$*" >&2
        exit 1
    }

    # With nothing built: the files as published, and the commit they come from.
    if [ "$(field Checksums-Sha256 | wc -l)" -ne 3 ]; then faults+=("the record names not three downloads"); fi
    while read -r sum size name; do
        case $name in */*) ;; *-Source.tar.gz) source=$name ;; esac
        if [[ $name == */* ]] || [ ! -f "$dir/$name" ]; then
            faults+=("$name: not in $dir, though the record names it")
            continue
        fi
        if ! printf '%s  %s\n' "$sum" "$name" | cmp -s - "$dir/$name.sha256"; then
            faults+=("$name.sha256: not the line that CPack writes for $name with the record's sum")
        fi
        if [ "$(sum_size "$dir/$name")" != "$sum $size" ]; then
            faults+=("$name: not the sum and size of the record")
        fi
    done < <(field Checksums-Sha256)
    if [ -z "$source" ]; then faults+=("the record names no source package"); fi
    wanted=$(field Installed-Build-Depends | sed -E 's/^([^:]+):[^ ]+ \(= (.+)\)$/\1=\2/')
    if [ -z "$wanted" ]; then faults+=("the record names no package"); fi
    # What reaches mmdebstrap from the record: the forms that make writes, and no other.
    odd() { grep -vxE "$1" || true; }
    while read -r line; do
        faults+=("the record holds '$line', not in the form of a record")
    done < <(
        echo "Build-Suite: $(value Build-Suite)" | odd 'Build-Suite: [a-z]+'
        field Build-Archives | odd 'deb https?://[^] [\]+ [a-z-]+( [a-z-]+)+'
        field Installed-Build-Depends | odd '[a-z0-9][a-z0-9+.-]*:[a-z0-9]+ \(= [A-Za-z0-9.+~:-]+\)'
    )
    built=$(value Build-Architecture)
    if [ "$built" != "$arch" ]; then
        unsure+=("the release was made on ${built:-no architecture}, and this machine is $arch")
    fi
    commit=$(value Commit)
    if ! [[ $commit =~ ^[0-9a-f]{40}$ ]] || ! repo cat-file -e "$commit^{commit}" 2>/dev/null; then
        unsure+=("the record's commit ${commit:-(none)} is not in the clone $here: fetch the project's tags (git fetch --tags), then verify again")
    elif [ -f "$dir/$source" ]; then
        source_differs "$dir/$source" "$commit" >"$work/differs" ||
            fail "could not compare $source with the files of commit $commit"
        while IFS= read -r line; do
            faults+=("$source $line")
        done <"$work/differs"
    fi
    if [ ${#faults[@]} -gt 0 ]; then does_not_hold "; nothing was built"; fi
    if [ ${#unsure[@]} -gt 0 ]; then
        printf 'release.sh: %s\n' "${unsure[@]}" >&2
        fail "nothing was built: no verdict"
    fi

    if [ ${#mirrors[@]} -eq 0 ]; then mapfile -t mirrors < <(field Build-Archives); fi
    if ! debian_root --variant=custom --include="$wanted" "$(value Build-Suite)" "${mirrors[@]}"; then
        if ! grep -q "^E: Version '.*' for '.*' was not found$" "$work/mmdebstrap.log"; then
            fail "mmdebstrap could not make the Debian of the record"
        fi
        snapshot=$(date -u -d "$(value Build-Date)" +%Y%m%dT%H%M%SZ)
        {
            echo "release.sh: the archive no longer has these versions of the record:"
            sed -n "s/^E: Version '\(.*\)' for '\(.*\)' was not found$/    \2 \1/p" "$work/mmdebstrap.log"
            echo "Take every package from Debian's snapshot archive of the build's date:"
            mapfile -t lines < <(field Build-Archives | sed -E \
                "s#^deb https?://[^ ]*/(debian[^/ ]*) #deb [check-valid-until=no] http://snapshot.debian.org/archive/\1/$snapshot #")
            printf '    sudo %s verify %s' "$(quote "$self")" "$(quote "$dir")"
            for line in "${lines[@]}"; do printf ' \\\n        %s' "$(quote "$line")"; done
            echo
        } >&2
        fail "nothing was built: no verdict"
    fi
    if ! diff <(field Installed-Build-Depends) <(packages) >&2; then
        fail "the Debian made holds other packages than the record (< the record, > made): no verdict"
    fi
    cp "$dir/$source" "$root/home/dev/"
    as_dev mkdir /home/dev/src
    as_dev tar -xzf "/home/dev/$source" -C /home/dev/src --strip-components=1 ||
        fail "the source package could not be unpacked in the Debian"
    as_dev bash -c 'cd ~/src && cmake --preset windows && cmake --build --preset windows &&
        cpack --preset windows && cmake --workflow --preset release' || fail "the build failed: no verdict"

    while read -r sum size name; do
        remade=$(echo "$root"/home/dev/src/build/*/"$name")
        if [ ! -f "$remade" ]; then
            faults+=("$name: not made again")
        elif ! cmp -s "$dir/$name" "$remade"; then
            faults+=("$name: made again, it differs from the published file")
        fi
    done < <(field Checksums-Sha256)
    if [ ${#faults[@]} -gt 0 ]; then does_not_hold; fi
    tags=$(repo tag --points-at "$commit" | paste -sd ' ')
    echo "release.sh: the three downloads in $dir, made again from commit $commit${tags:+ (tagged $tags)}" \
        "in the Debian of their record, are the same byte for byte"
}

if [ "$1" = make ]; then make_release; else verify_release "$@"; fi
