#!/usr/bin/env bash
# A release made from the last commit alone in a fresh Debian 12 made for it,
# and made again later from its published files alone. As root, on a Linux with
# mmdebstrap:
#   sudo ./release.sh make DIR
#     Refuses a work tree whose tracked files have uncommitted changes. Clones
#     the last commit into the Debian, installs there what install-deps.sh lists
#     for a release, and runs the workflows windows (with its tests under Wine)
#     and release. Writes into DIR, new or empty, the three downloads, their
#     .sha256 and Untitled3-X.Y.buildinfo, the record of the build: the commit
#     and its date, the archives and their dates, every package installed with
#     its version and architecture, and the downloads' sums and sizes.
#   sudo ./release.sh verify DIR [SOURCE...]
#     Checks each .sha256 and the record's sums, makes a Debian of exactly the
#     record's packages, unpacks the published source package there (no git),
#     runs both workflows, and compares each download byte for byte. The
#     packages come from the record's archives, or from the apt lines SOURCE
#     ('deb URI SUITE COMPONENT'): once Debian has moved on, from its snapshot
#     archive of the build's date, which the message then gives.
# A failure leaves DIR without a download, and the files made belong to the
# user who ran sudo. Exits 0 when all holds; 1 on a failure or a difference,
# each named; 2 when the archive lacks a version of the record, before anything
# is built, with no verdict.
set -eu -o pipefail
shopt -s nullglob

usage() {
    echo "usage: sudo $0 make DIR | verify DIR [SOURCE...]" >&2
    exit 2
}
fail() {
    echo "release.sh: $*" >&2
    exit 1
}
[ $# -ge 2 ] || usage
case $1 in make | verify) ;; *) usage ;; esac
[ "$(id -u)" -eq 0 ] || fail "run it as root: sudo $0 $*"
command -v mmdebstrap >/dev/null || fail "no mmdebstrap (apt-get install mmdebstrap)"
# shellcheck source-path=SCRIPTDIR source=debian-root.sh
. "$(dirname "$0")/debian-root.sh"
in_namespace "$@"
dir=$(realpath -m -- "$2")
cd "$(dirname "$0")"

# Every package installed in the Debian, a line each: NAME:ARCH (= VERSION)
packages() {
    # shellcheck disable=SC2016 # dpkg-query's own ${fields}
    chroot "$root" dpkg-query -W -f '${db:Status-Abbrev} ${Package}:${Architecture} (= ${Version})\n' |
        sed -n 's/^ii  *//p' | LC_ALL=C sort
}

# A file's SHA-256 and size, as the record gives them: sum_size FILE
sum_size() { echo "$(sha256sum <"$1" | cut -c1-64) $(stat -c %s "$1")"; }

# Both workflows, as dev, in ~/src.
build() {
    as_dev bash -c 'cd ~/src && cmake --workflow --preset windows && cmake --workflow --preset release' ||
        fail "the workflows failed"
}

make_release() {
    local changed src version commit list download downloads=() record file made=()
    if [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then fail "$dir is not empty"; fi
    # Read as root in a work tree that may be a user's: git writes nothing there.
    changed=$(GIT_OPTIONAL_LOCKS=0 git -c safe.directory="$PWD" status --porcelain --untracked-files=no) ||
        fail "git cannot read $PWD"
    if [ -n "$changed" ]; then
        fail "a release is made from the last commit alone; commit or stash the changes to:"$'\n'"$changed"
    fi

    debian_root --variant=minbase --include=git --skip=cleanup/apt/lists bookworm
    git -c safe.directory="$PWD" bundle create -q "$root/home/dev/commit.bundle" HEAD
    as_dev git -c advice.detachedHead=false clone -q /home/dev/commit.bundle /home/dev/src
    chroot "$root" /home/dev/src/install-deps.sh release
    build

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

    mkdir -p "$dir"
    for file in "${downloads[@]}" "${downloads[@]/%/.sha256}" "$record"; do
        made+=("$dir/${file##*/}")
        if ! cp "$file" "$dir/"; then
            rm -f "${made[@]}"
            fail "could not write ${file##*/} into $dir"
        fi
    done
    if [ -n "${SUDO_UID:-}" ]; then chown "$SUDO_UID:${SUDO_GID-}" "$dir" "${made[@]}"; fi
    (cd "$dir" && sha256sum -- *)
    echo "release.sh: Untitled3 $version, commit ${commit%%$'\n'*}, made in $dir"
}

verify_release() {
    local records record name sum size source='' differ=() wanted remade snapshot lines mirrors=("${@:3}")
    records=("$dir"/Untitled3-*.buildinfo)
    if [ ${#records[@]} -ne 1 ]; then fail "$dir holds not one Untitled3-X.Y.buildinfo but ${#records[@]}"; fi
    record=${records[0]}
    # The lines of a field of the record, without their lead space or comma.
    field() { awk -v f="$1:" '/^[^ ]/ { on = $1 == f } on && /^ / { sub(/^ /, ""); sub(/,$/, ""); print }' "$record"; }
    value() { sed -n "s/^$1: //p" "$record"; }
    if [ "$(field Checksums-Sha256 | wc -l)" -ne 3 ]; then fail "$record names not three downloads"; fi

    while read -r sum size name; do
        [ -f "$dir/$name" ] || fail "$dir holds no $name, which the record names"
        case $name in *-Source.tar.gz) source=$name ;; esac
        if ! (cd "$dir" && sha256sum --quiet --status -c -- "$name.sha256"); then
            differ+=("$name: its .sha256 does not check")
        fi
        if [ "$(sum_size "$dir/$name")" != "$sum $size" ]; then
            differ+=("$name: not the sum and size of the record")
        fi
    done < <(field Checksums-Sha256)
    [ -n "$source" ] || fail "$record names no source package"

    wanted=$(field Installed-Build-Depends | sed -E 's/^([^:]+):[^ ]+ \(= (.+)\)$/\1=\2/')
    [ -n "$wanted" ] || fail "$record names no package"
    [ ${#mirrors[@]} -gt 0 ] || mapfile -t mirrors < <(field Build-Archives)
    if ! debian_root --variant=custom --include="$wanted" "$(value Build-Suite)" "${mirrors[@]}"; then
        if ! grep -q "^E: Version '.*' for '.*' was not found$" "$root.log"; then
            fail "mmdebstrap could not make the Debian of the record"
        fi
        snapshot=$(date -u -d "$(value Build-Date)" +%Y%m%dT%H%M%SZ)
        {
            echo "release.sh: the archive no longer has these versions of the record:"
            sed -n "s/^E: Version '\(.*\)' for '\(.*\)' was not found$/    \2 \1/p" "$root.log"
            echo "Take every package from Debian's snapshot archive of the build's date:"
            mapfile -t lines < <(field Build-Archives | sed -E \
                "s#^deb https?://[^ ]*/(debian[^/ ]*) #deb [check-valid-until=no] http://snapshot.debian.org/archive/\1/$snapshot #")
            printf '    sudo %s verify %s' "$0" "$dir"
            printf " \\\\\n        '%s'" "${lines[@]}"
            echo
            echo "Nothing was built: no verdict."
        } >&2
        exit 2
    fi
    if ! diff <(field Installed-Build-Depends) <(packages) >&2; then
        fail "the Debian made holds other packages than the record (< the record, > made)"
    fi
    cp "$dir/$source" "$root/home/dev/"
    as_dev mkdir /home/dev/src
    as_dev tar -xzf "/home/dev/$source" -C /home/dev/src --strip-components=1
    build

    while read -r sum size name; do
        remade=$(echo "$root"/home/dev/src/build/*/"$name")
        if [ ! -f "$remade" ]; then
            differ+=("$name: not made again")
        elif ! cmp -s "$dir/$name" "$remade"; then
            differ+=("$name: made again, it differs from the published file")
        fi
    done < <(field Checksums-Sha256)
    if [ ${#differ[@]} -gt 0 ]; then
        printf 'release.sh: %s\n' "${differ[@]}" >&2
        fail "the release in $dir does not hold"
    fi
    echo "release.sh: the three downloads in $dir, made again from their source package, are the same byte for byte"
}

if [ "$1" = make ]; then make_release; else verify_release "$@"; fi
