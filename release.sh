#!/usr/bin/env bash
# A release made from the last commit alone in a fresh Debian 12, and made again
# later from the project's history. Both commands build the commit's files, as
# git archive gives them and its source package holds them, with its date in
# SOURCE_DATE_EPOCH, in a Debian that one run of mmdebstrap (unshare mode)
# makes, uses and removes under /var/tmp. On amd64, as any user, root too:
#   ./release.sh make DIR
#     Builds HEAD, as committed, with install-deps.sh's packages for a release:
#     the workflows windows (tests under Wine) and release. Writes into DIR, new
#     or empty, all or none of the three downloads, their .sha256 and the record
#     Untitled3-X.Y.buildinfo: the commit, the archives and their dates, every
#     package installed, and the downloads' sums and sizes.
#   ./release.sh verify DIR [SOURCE...]
#     Trusts the clone that holds it, and nothing in DIR. Before it builds, each
#     of the seven files that the record's commit names must be a regular file,
#     which it reads once; the record must list the three downloads once each,
#     each .sha256 must be CPack's line, and the source package must name the
#     commit's files alone. It builds the commit, without tests, in a Debian of
#     exactly the record's packages, from the record's archives or the apt lines
#     SOURCE ('deb URI SUITE COMPONENT'), and compares the downloads byte for byte.
# Exits, for make: 0 made, 1 not. For verify: 0 the release holds; 1 it does
# not, each fault named; 2 no verdict (a usage error, a version the archive
# lacks, a commit no branch or tag reaches, another architecture, a step that
# could not run). A signal (INT, TERM, HUP) ends either with 128 + its number,
# leaving nothing behind. Every failure ends with a line "release.sh: ...".
set -eEu -o pipefail
shopt -s nullglob
umask 022 # the same files, whatever the caller's umask
self=$(realpath -- "$0")
here=${self%/*}
if [ "${1:-}" = verify ]; then cannot=2; else cannot=1; fi # a step that could not run

fail() { echo "release.sh: $*" >&2; exit "$cannot"; }
# A command that failed unchecked ends the script too, as its own failure.
trap 'if [ "$BASHPID" = $$ ]; then echo "release.sh: could not run: $BASH_COMMAND" >&2; fi; exit "$cannot"' ERR

usage() { fail "usage: ${self@Q} make DIR | verify DIR [SOURCE...]"; }
case ${1:-} in
make) [ $# -eq 2 ] || usage ;;
verify) [ $# -ge 2 ] || usage ;;
*) usage ;;
esac
[ -n "$2" ] || fail "DIR is an empty word: name a folder"
dir=$(realpath -m -- "$2")
arch=$(dpkg --print-architecture 2>/dev/null) || arch=unknown

# mmdebstrap's unshare mode, or what it lacks here.
me=$(id -un)
command -v mmdebstrap >/dev/null || fail "no mmdebstrap: sudo apt-get install mmdebstrap uidmap"
if [ "$me" = root ]; then
    unshare --mount --pid --fork true 2>/dev/null ||
        fail "root cannot make mount and PID namespaces here (no CAP_SYS_ADMIN?), which mmdebstrap needs"
else
    command -v newuidmap >/dev/null || fail "no newuidmap, which mmdebstrap needs as $me: sudo apt-get install uidmap"
    if ! grep -q "^$me:" /etc/subuid || ! grep -q "^$me:" /etc/subgid; then
        ids=$(awk -F: '$2 + $3 > top { top = $2 + $3 } END { if (top < 100000) top = 100000; print top "-" top + 65535 }' /etc/sub[ug]id)
        fail "$me has no subordinate ids, which mmdebstrap needs: sudo usermod --add-subuids $ids --add-subgids $ids $me"
    fi
    unshare --user --map-root-user --mount --pid --fork true 2>/dev/null ||
        fail "user namespaces are refused here, and mmdebstrap needs them: run it with sudo"
fi

work=$(mktemp -d -p /var/tmp release.sh.XXXXXX) || fail "cannot make a work folder in /var/tmp"
trap 'chmod -R u+rwX "$work" 2>/dev/null; rm -rf "$work"' EXIT
# Ends the script as the signal would, once mmdebstrap, if it runs, has ended
# all it started and removed its Debian; TERM ends it, where apt-get would wait
# out INT: interrupted NAME
interrupted() {
    set +e
    trap - ERR
    trap '' INT TERM HUP
    if [ -n "${running:-}" ]; then
        kill -s TERM -- "-$running" 2>/dev/null
        wait "$running"
    fi
    echo "release.sh: interrupted by SIG$1; nothing is left behind" >&2
    exit $((128 + $(kill -l "$1")))
}
for signal in INT TERM HUP; do
    # shellcheck disable=SC2064 # the signal's name, fixed now
    trap "interrupted $signal" "$signal"
done

# git in the clone, as its owner: root never runs what a user's clone sets
# (fsmonitor, hooks, filters). It writes nothing there.
owner=$(stat -c %U -- "$here")
as_owner=()
if [ "$me" = root ] && [ "$owner" != root ]; then as_owner=(runuser -u "$owner" --); fi
repo() { GIT_OPTIONAL_LOCKS=0 "${as_owner[@]}" git -C "$here" "$@"; }

# A file's SHA-256 and size, as the record gives them: sum_size FILE
sum_size() { echo "$(sha256sum <"$1" | cut -c1-64) $(stat -c %s "$1")"; }

# Sets $version, as a commit's CMakeLists.txt sets it, and $downloads, named with it: downloads COMMIT
downloads() {
    version=$(repo show "$1:CMakeLists.txt" | sed -n 's/^project(Untitled3 VERSION \([0-9.]*\) .*/\1/p')
    [ -n "$version" ] || fail "commit $1 sets no version in its CMakeLists.txt"
    downloads=("Untitled3-$version-win64.zip" "Untitled3-$version-Linux.tar.gz" "Untitled3-$version-Source.tar.gz")
}

# Builds commit $commit in a Debian made with mmdebstrap's $options, as the user
# dev, with the steps $STEPS, and copies out into $work/out the downloads, the
# record's lines on the Debian, and its packages: debian SUITE [MIRROR...]
# mmdebstrap runs in a process group of its own, which a signal reaches whole.
# Its messages, in the C locale, go to $work/log; on failure, to stderr too.
# shellcheck disable=SC2016 # the hooks' words are for mmdebstrap's sh to expand
debian() {
    local status=0
    repo archive --prefix=src/ "$commit" >"$work/src.tar"
    export COMMIT_DATE STEPS
    COMMIT_DATE=$(repo log -1 --format=%ct "$commit")
    echo "=== a fresh Debian $1, made by mmdebstrap"
    set -m
    LC_ALL=C TMPDIR=/var/tmp mmdebstrap --mode=unshare --variant=minbase \
        --customize-hook='chroot "$1" useradd -m dev' \
        --customize-hook="tar-in $work/src.tar /home/dev" \
        --customize-hook='echo "$COMMIT_DATE" >"$1/home/dev/src/SOURCE_DATE_EPOCH"' \
        --customize-hook='chroot "$1" chown -R dev:dev /home/dev/src' "${options[@]}" \
        --customize-hook='chroot "$1" runuser -u dev -- env -i HOME=/home/dev USER=dev \
            PATH=/usr/local/bin:/usr/bin:/bin bash -c "cd ~/src && $STEPS" 2>&1' \
        --customize-hook='cd "$1/home/dev" && mkdir out && cp src/build/*/Untitled3-* out/ && {
            echo "Build-Architecture: $(chroot "$1" dpkg --print-architecture)" && echo Build-Archives: &&
            sed -n "s/^deb / &/p" "$1/etc/apt/sources.list" && echo Archive-Dates: &&
            for list in "$1"/var/lib/apt/lists/*_InRelease; do
                echo " $(sed -n "s/^Codename: //p" "$list"): $(sed -n "s/^Date: //p" "$list")"
            done; } >out/debian && chroot "$1" dpkg-query -W -f "\${db:Status-Abbrev} \${Package}:\${Architecture} (= \${Version})\n" |
            sed -n "s/^ii  *//p" | LC_ALL=C sort >out/packages' \
        --customize-hook="sync-out /home/dev/out $work/out" \
        "$1" /dev/null "${@:2}" </dev/null 2>"$work/log" &
    running=$!
    set +m
    wait "$running" || status=$?
    running=
    if [ "$status" -ne 0 ]; then grep -v '^I: ' "$work/log" | cut -c 1-200 >&2; fi
    return "$status"
}

make_release() {
    local new='' full='' changed commit version downloads record file files held=''
    if [ "$arch" != amd64 ]; then fail "this machine is $arch: the downloads are x86-64, made on amd64"; fi
    # DIR: new or empty, and able to take a file of 1 MiB, which is tried and undone.
    if [ -e "$dir" ] && [ ! -d "$dir" ]; then fail "$dir is a file, not a folder"; fi
    if [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then fail "$dir is not empty"; fi
    if [ ! -d "$dir" ]; then
        mkdir "$dir" 2>/dev/null || fail "cannot make the folder $dir (is there a folder it goes into?)"
        new=1
    fi
    head -c 1M /dev/zero 2>/dev/null >"$dir/.release.sh-try" || full=1
    rm -f "$dir/.release.sh-try"
    if [ -n "$new" ]; then rmdir "$dir"; fi
    if [ -n "$full" ]; then fail "cannot write into $dir: no room, or a file system that is read-only"; fi
    changed=$(repo status --porcelain --untracked-files=no) || fail "git cannot read $here"
    if [ -n "$changed" ]; then
        fail "a release is made from the last commit alone; commit or stash the changes to:"$'\n'"$changed"
    fi
    commit=$(repo rev-parse HEAD)
    downloads "$commit"

    STEPS='cmake --workflow --preset windows && cmake --workflow --preset release'
    # shellcheck disable=SC2016 # for mmdebstrap's sh to expand
    options=(--customize-hook='chroot "$1" /home/dev/src/install-deps.sh release')
    debian bookworm || fail "mmdebstrap could not make the Debian, or the build in it failed"
    cd "$work/out"
    files=("${downloads[@]}" "${downloads[@]/%/.sha256}")
    ls -- "${files[@]}" >/dev/null || fail "the build did not make all of ${files[*]}"
    [ -s packages ] || fail "the Debian's list of packages is empty"
    record=Untitled3-$version.buildinfo
    {
        echo "Format: 1.0"
        echo "Source: Untitled3"
        echo "Version: $version"
        echo "Commit: $commit"
        echo "Commit-Date: $(repo log -1 --format='%cI (%ct)' "$commit")"
        echo "Build-Suite: bookworm"
        echo "Build-Date: $(date -u -R)"
        cat debian
        echo "Checksums-Sha256:"
        for file in "${downloads[@]}"; do echo " $(sum_size "$file") $file"; done
        echo "Installed-Build-Depends:"
        sed 's/^/ /; $!s/$/,/' packages
    } >"$record"

    # Into DIR whole or not at all: a signal meanwhile waits for the end.
    files+=("$record")
    if [ ! -d "$dir" ]; then mkdir "$dir" || fail "cannot make the folder $dir"; fi
    trap 'held=INT' INT
    trap 'held=TERM' TERM
    trap 'held=HUP' HUP
    cp -- "${files[@]}" "$dir/" || held=failed
    if [ -n "$held" ]; then rm -f -- "${files[@]/#/$dir/}"; fi
    if [ "$held" = failed ]; then fail "could not write the release into $dir"; fi
    if [ -n "$held" ]; then interrupted "$held"; fi
    if [ -n "${SUDO_UID:-}" ]; then chown "$SUDO_UID:${SUDO_GID-}" "$dir" "${files[@]/#/$dir/}"; fi
    (cd "$dir" && sha256sum -- "${files[@]}")
    echo "release.sh: Untitled3 $version, commit $commit, made in $dir"
}

verify_release() {
    local records record commit version downloads source name sum size sums listed kind members line
    local faults=() wanted snapshot lines tags got=$work/got mirrors=("${@:3}")
    if [ "$(repo rev-parse --show-toplevel 2>/dev/null)" != "$here" ]; then
        fail "verify trusts the project's history alone, so it runs from a clone of the project, and $here is none (an" \
            "unpacked source package?). Clone the project, check out the release's tag (git checkout vX.Y), run its release.sh."
    fi
    [ -d "$dir" ] || fail "no folder $dir"
    records=("$dir"/Untitled3-*.buildinfo)
    [ ${#records[@]} -eq 1 ] || fail "$dir holds ${#records[@]} records Untitled3-X.Y.buildinfo, where a release has one"
    record=${records[0]##*/}
    # The verdict that the release does not hold, each fault named: does_not_hold [WHEN]
    does_not_hold() {
        printf 'release.sh: %s\n' "${faults[@]}" "the release in $dir does not hold$*" >&2
        exit 1
    }
    # A file of DIR copied once into $got, and judged there; where it is no
    # regular file, a fault, and it is never opened: read_in NAME
    mkdir "$got"
    read_in() {
        kind=$(LC_ALL=C stat -c %F -- "$dir/$1" 2>/dev/null) || kind=none
        case $kind in
        regular*) if cp -RP -- "$dir/$1" "$got/" && [ -f "$got/$1" ] && [ ! -L "$got/$1" ]; then return 0; fi
            faults+=("$1: could not be read as a regular file") ;;
        none) faults+=("$1: not in $dir") ;;
        *) faults+=("$1: a $kind, where a release has a regular file") ;;
        esac
        return 1
    }
    read_in "$record" || does_not_hold "; nothing was built"
    # The lines of a field of the record, without their lead space or comma.
    field() { awk -v f="$1:" '/^[^ ]/ { on = $1 == f } on && /^ / { sub(/^ /, ""); sub(/,$/, ""); print }' "$got/$record"; }
    value() { sed -n "s/^$1: //p" "$got/$record"; }

    # The commit, in the project's history, names the files of the release.
    commit=$(value Commit)
    if ! [[ $commit =~ ^[0-9a-f]{40}$ ]] || ! repo cat-file -e "$commit^{commit}" 2>/dev/null ||
        [ -z "$(repo for-each-ref --contains "$commit" refs/heads refs/remotes refs/tags)" ]; then
        fail "no branch or tag of the clone $here reaches the record's commit ${commit:-(none)}: fetch the" \
            "project's branches and tags (git fetch --tags origin), then verify again; nothing was built: no verdict"
    fi
    downloads "$commit"
    source=${downloads[2]}
    if [ "$record" != "Untitled3-$version.buildinfo" ]; then
        faults+=("$record: not the name of the record of version $version, Untitled3-$version.buildinfo")
    fi

    # With nothing built: the files as published.
    sums=$(field Checksums-Sha256)
    mapfile -t listed < <(sed -E 's/^[0-9a-f]{64} [0-9]+ //' <<<"$sums" | LC_ALL=C sort)
    if [ "$(printf '%s\n' "${listed[@]}")" != "$(printf '%s\n' "${downloads[@]}" | LC_ALL=C sort)" ]; then
        faults+=("the record lists ${listed[*]@Q}, where a release lists ${downloads[*]} once each, with a sum and size")
    fi
    for name in "${downloads[@]}"; do
        read -r sum size _ < <(awk -v n="$name" '$3 == n' <<<"$sums") || sum=
        if read_in "$name" && [ -n "$sum" ] && [ "$(sum_size "$got/$name")" != "$sum $size" ]; then
            faults+=("$name: not the sum and size of the record")
        fi
        if read_in "$name.sha256" && ! printf '%s  %s\n' "$sum" "$name" | cmp -s - "$got/$name.sha256"; then
            faults+=("$name.sha256: not the line that CPack writes for $name with the record's sum")
        fi
    done
    # The source package's names, whole (tar escapes a newline, tab or backslash), against the commit's.
    if ! members=$(LC_ALL=C tar -tzf "$got/$source" --quoting-style=escape 2>/dev/null); then
        if [ -f "$got/$source" ]; then faults+=("$source: not a .tar.gz that can be read"); fi
    elif [[ $members == *\\* ]]; then
        faults+=("$source holds a name with a character that may hide it, such as a newline: $(grep -m1 -F "\\" <<<"$members")")
    else
        while read -r line; do faults+=("$source $line"); done < <(LC_ALL=C comm -3 <(LC_ALL=C sort <<<"$members") <(
            { repo archive --prefix="${source%.tar.gz}/" "$commit" | tar -t; echo "${source%.tar.gz}/SOURCE_DATE_EPOCH"; } |
                LC_ALL=C sort) | sed 's/^\t/lacks /; /^lacks /!s/^/adds /')
    fi
    wanted=$(field Installed-Build-Depends | sed -E 's/^([^:]+):[^ ]+ \(= (.+)\)$/\1=\2/')
    if [ -z "$wanted" ]; then faults+=("the record names no package"); fi
    # What reaches mmdebstrap from the record: the forms that make writes, and no other.
    odd() { grep -vxE "$1" || true; }
    while read -r line; do faults+=("the record holds '$line', not in the form of a record"); done < <(
        echo "Build-Suite: $(value Build-Suite)" | odd 'Build-Suite: [a-z]+'
        field Build-Archives | odd 'deb https?://[^] [\]+ [a-z-]+( [a-z-]+)+'
        field Installed-Build-Depends | odd '[a-z0-9][a-z0-9+.-]*:[a-z0-9]+ \(= [A-Za-z0-9.+~:-]+\)'
    )
    if [ ${#faults[@]} -gt 0 ]; then does_not_hold "; nothing was built"; fi
    if [ "$(value Build-Architecture)" != "$arch" ]; then
        fail "the release was made on $(value Build-Architecture), and this machine is $arch; nothing was built: no verdict"
    fi

    if [ ${#mirrors[@]} -eq 0 ]; then mapfile -t mirrors < <(field Build-Archives); fi
    STEPS='cmake --preset windows && cmake --build --preset windows && cpack --preset windows &&
        cmake --workflow --preset release'
    options=(--variant=custom --include="$wanted")
    if ! debian "$(value Build-Suite)" "${mirrors[@]}"; then
        if ! grep -q "^E: Version '.*' for '.*' was not found$" "$work/log"; then
            fail "mmdebstrap could not make the Debian of the record, or the build in it failed: no verdict"
        fi
        snapshot=$(date -u -d "$(value Build-Date)" +%Y%m%dT%H%M%SZ)
        {
            echo "release.sh: the archive no longer has these versions of the record:"
            sed -n "s/^E: Version '\(.*\)' for '\(.*\)' was not found$/    \2 \1/p" "$work/log"
            echo "Take every package from Debian's snapshot archive of the build's date:"
            mapfile -t lines < <(field Build-Archives | sed -E \
                "s#^deb https?://[^ ]*/(debian[^/ ]*) #deb [check-valid-until=no] http://snapshot.debian.org/archive/\1/$snapshot #")
            printf '    %s verify %s' "${self@Q}" "${dir@Q}"
            for line in "${lines[@]}"; do printf ' \\\n        %s' "${line@Q}"; done
            echo
        } >&2
        fail "nothing was built: no verdict"
    fi
    if ! diff <(field Installed-Build-Depends) "$work/out/packages" >&2; then
        fail "the Debian made held other packages than the record (< the record, > made): no verdict"
    fi

    for name in "${downloads[@]}"; do
        if ! cmp -s "$got/$name" "$work/out/$name"; then faults+=("$name: made again, it differs from the published file"); fi
    done
    if [ ${#faults[@]} -gt 0 ]; then does_not_hold; fi
    tags=$(repo tag --points-at "$commit" | paste -sd ' ')
    echo "release.sh: the three downloads in $dir, made again from commit $commit" \
        "${tags:+(tagged $tags)}${tags:-(which no tag names)} in the Debian of their record, are the same byte for byte"
}

if [ "$1" = make ]; then make_release; else verify_release "$@"; fi
