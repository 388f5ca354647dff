#!/usr/bin/env bash
# Releases, made from the last commit alone in a fresh Debian 12 and made again
# from the project's history, on amd64, by any user from the top of their own
# clone (root runs git as its owner): the commit's files, as git archive gives
# them, built in a Debian made by one mmdebstrap run (unshare mode) from the
# archives below, signed by debian-archive-keyring's keys.
#   ./release.sh make DIR
#     Builds HEAD with install-deps.sh's packages, then writes into DIR all or
#     none of the downloads, their .sha256 and the record Untitled3-X.Y.buildinfo.
#     DIR is made closed to others, or is empty, its user's own (under sudo the
#     sudo user's, who writes it) and no other user's to write.
#   ./release.sh verify DIR [SOURCE...]
#     Trusts the clone, never DIR: checks the record's every byte and field
#     against make's form and the commit (HEAD, where a tag names HEAD), and the
#     files against it; builds the commit in a Debian of exactly its packages,
#     from the archives below or the apt lines SOURCE ('deb URI SUITE
#     COMPONENT'), and compares the downloads.
# Exits, for make: 0 made, 1 not; for verify: 0 the release holds, 1 it does not
# (each fault named), 2 no verdict (a usage error, a version the archive lacks,
# a commit no branch or tag reaches, another architecture, a record of another
# release.sh's form, a step that could not run). A signal (INT, TERM, HUP) gives
# 128 + its number, leaving nothing behind. Each failure ends "release.sh: ...".
set -eEu -o pipefail
shopt -s nullglob
umask 022 # the same files, whatever the caller's umask
export LC_ALL=C

# In the Debian, as root: builds /src as dev (for make with install-deps.sh's packages
# and tests), and puts into /out the downloads, the archives' dates and the packages.
if [ "$0" = /release.sh ] && [ "${1:-}" = --in-debian ]; then # make|verify
    useradd -m dev && mv /src /home/dev/src && chown -R dev:dev /home/dev/src
    steps=("cmake --preset windows" "cmake --build --preset windows" "cpack --preset windows")
    if [ "$2" = make ]; then /home/dev/src/install-deps.sh release; steps=("cmake --workflow --preset windows"); fi
    for step in "${steps[@]}" "cmake --workflow --preset release"; do
        # shellcheck disable=SC2086 # a word per argument
        runuser -u dev -- env -i -C /home/dev/src HOME=/home/dev USER=dev PATH=/usr/local/bin:/usr/bin:/bin $step
    done
    mkdir /out && cp /home/dev/src/build/*/Untitled3-* /out/
    for list in /var/lib/apt/lists/*_InRelease; do
        echo "$(sed -n 's/^Codename: //p' "$list"): $(sed -n 's/^Date: //p' "$list")"
    done >/out/dates
    dpkg-query -W -f "\${db:Status-Abbrev} \${Package}:\${Architecture} (= \${Version})\n" | sed -n 's/^ii  *//p' | sort >/out/packages
    exit 0
fi
self=$(realpath -- "$0") here=${self%/*}
if [ "${1:-}" = verify ]; then cannot=2; else cannot=1; fi # a step that could not run
fail() { echo "release.sh: $*" >&2; exit "$cannot"; }
# A command that failed unchecked ends the script too, as its own failure.
trap 'if [ "$BASHPID" = $$ ]; then echo "release.sh: could not run: $BASH_COMMAND" >&2; fi; exit "$cannot"' ERR
case ${1:-} in make) [ $# -eq 2 ] ;; verify) [ $# -ge 2 ] ;; *) false ;; esac ||
    fail "usage: ${self@Q} make DIR | verify DIR [SOURCE...]"
[ -n "$2" ] || fail "DIR is an empty word: name a folder"
dir=$(realpath -ms -- "$2")
cd / # mmdebstrap cleans up only from a folder that it can read
arch=$(dpkg --print-architecture 2>/dev/null) || arch=unknown
suite=bookworm # and its archives, as the record names them
archives=("deb http://deb.debian.org/debian $suite main" "deb http://deb.debian.org/debian $suite-updates main"
    "deb http://security.debian.org/debian-security $suite-security main")
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
# The record's lines as make writes them, each * a value, the packages after them.
form=("Format: 1.0" "Source: Untitled3" "Version: *" "Commit: *" "Commit-Date: *" "Build-Suite: $suite" "Build-Date: *"
    "Build-Architecture: *" "Build-Archives:" "${archives[@]/#/ }" "Archive-Dates:")
for name in "${archives[@]}"; do read -r _ _ name _ <<<"$name" && form+=(" $name: *"); done
form+=("Checksums-Sha256:" " *" " *" " *" "Installed-Build-Depends:")
# mmdebstrap's unshare mode, or what it lacks here.
me=$(id -un)
command -v mmdebstrap >/dev/null || fail "no mmdebstrap: sudo apt-get install mmdebstrap uidmap"
[ -s "$keyring" ] || fail "no $keyring, Debian's archive keys: sudo apt-get install debian-archive-keyring"
if [ "$me" = root ]; then
    unshare --mount --pid --fork true 2>/dev/null ||
        fail "root cannot make mount and PID namespaces here (no CAP_SYS_ADMIN?), which mmdebstrap needs"
else
    command -v newuidmap >/dev/null || fail "no newuidmap, which mmdebstrap needs as $me: sudo apt-get install uidmap"
    if ! grep -qs "^$me:" /etc/subuid || ! grep -qs "^$me:" /etc/subgid; then
        ids=$(awk -F: '$2 + $3 > top { top = $2 + $3 } END { if (top < 100000) top = 100000; print top "-" top + 65535 }' \
            /dev/null /etc/sub[ug]id)
        fail "$me has no subordinate ids, which mmdebstrap needs: sudo usermod --add-subuids $ids --add-subgids $ids $me"
    fi
    unshare --user --map-root-user --mount --pid --fork true 2>/dev/null ||
        fail "user namespaces are refused here, and mmdebstrap needs them: run it with sudo"
fi

# git in the clone as its owner (root never runs a user's fsmonitor, hooks or filters), writing
# nothing, and reading the history as it is, whatever the settings or replace refs say.
owner=$(stat -c %u -- "$here") as_owner=()
if [ "$me" = root ] && [ "$owner" != 0 ]; then
    name=$(id -nu -- "$owner" 2>/dev/null) || fail "$here is uid $owner's, who has no name; root runs git as the clone's owner"
    as_owner=(runuser -u "$name" --)
elif [ "$me" != root ] && [ "$owner" != "$UID" ]; then
    fail "$here is not $me's, and git reads a clone as its owner alone: run release.sh from a clone of your own"
fi
repo() { GIT_NO_REPLACE_OBJECTS=1 GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null "${as_owner[@]}" git -C "$here" "$@"; }
if [ "$(repo rev-parse --show-toplevel 2>/dev/null)" != "$here" ]; then
    fail "release.sh trusts the project's history alone, so it runs from the top of a clone of the project, and $here is" \
        "none (an unpacked source package?). Clone the project, check out the release's tag (git checkout vX.Y), run its release.sh."
fi
dated() { repo log -1 --no-show-signature --format="$1" "$2"; } # a commit's date: dated FORMAT COMMIT
tags() { repo for-each-ref --points-at "$1" --format='%(refname:strip=2)' refs/tags | paste -sd ' '; }
sum_size() { echo "$(sha256sum <"$1" | cut -c1-64) $(stat -c %s "$1")"; } # a file's, as the record has them: sum_size FILE

work=$(mktemp -d -p /var/tmp release.sh.XXXXXX) || fail "cannot make a work folder in /var/tmp"
taken='' made='' dir_id='' files=() writer=()
trap 'trap - ERR; set +e; if [ -n "$taken" ]; then in_dir rm -f -- "${files[@]}"; fi 2>/dev/null
    if [ -n "$made" ] && [ "$(stat -c "%u %d:%i" -- "$dir")" = "$dir_id" ]; then "${writer[@]}" rmdir -- "$dir"; fi 2>/dev/null
    chmod -R u+rwX "$work" 2>/dev/null; rm -rf "$work"' EXIT
# Ends the script as the signal would, once mmdebstrap, if it runs, has ended
# all it started and removed its Debian (TERM: apt-get waits out INT): interrupted NAME
interrupted() {
    set +e; trap - ERR; trap '' INT TERM HUP
    if [ -n "${running:-}" ]; then kill -s TERM -- "-$running" 2>/dev/null; wait "$running"; fi
    echo "release.sh: interrupted by SIG$1; nothing is left behind" >&2; exit $((128 + $(kill -l "$1")))
}
# shellcheck disable=SC2064 # the signal's name, fixed now
for signal in INT TERM HUP; do trap "interrupted $signal" "$signal"; done
# The commit's files with SOURCE_DATE_EPOCH under src/ in $work/in.tar, and this script;
# $version, as its CMakeLists.txt sets it or empty, and $downloads: sources COMMIT
sources() {
    repo archive --prefix=src/ "$1" >"$work/in.tar" || fail "git cannot read the files of commit $1 in $here"
    version=$(tar -xOf "$work/in.tar" src/CMakeLists.txt | sed -n 's/^project(Untitled3 VERSION \([0-9.]*\) .*/\1/p') || version=''
    downloads=("Untitled3-$version-win64.zip" "Untitled3-$version-Linux.tar.gz" "Untitled3-$version-Source.tar.gz")
    mkdir -p "$work/in/src" && cp -- "$self" "$work/in/release.sh"
    dated %ct "$1" >"$work/in/src/SOURCE_DATE_EPOCH"
    tar -rf "$work/in.tar" -C "$work/in" src/SOURCE_DATE_EPOCH release.sh
}
# Builds $work/in.tar in a Debian made with $options from the archives SOURCE, into
# $work/out; mmdebstrap's messages go to $work/log, on failure to stderr, and a
# signal reaches its process group whole: debian make|verify SOURCE...
debian() {
    local status=0
    echo "=== a fresh Debian $suite, made by mmdebstrap"
    set -m
    TMPDIR=/var/tmp mmdebstrap --mode=unshare --keyring="$keyring" --skip=check/signed-by "${options[@]}" \
        --customize-hook="tar-in $work/in.tar /" --customize-hook="chroot \"\$1\" bash /release.sh --in-debian $1" \
        --customize-hook="sync-out /out $work/out" -- "$suite" /dev/null "${@:2}" </dev/null >"$work/log" 2>&1 &
    running=$! && set +m
    wait "$running" || status=$?; running=
    if [ "$status" -ne 0 ]; then grep -v '^I: ' "$work/log" | cut -c 1-200 >&2; fi
    return "$status"
}
# COMMAND as DIR's writer in the folder made or taken, wherever its path leads now: in_dir COMMAND...
in_dir() (
    if ! cd -P -- "$dir" 2>/dev/null || [ "$(stat -c '%u %d:%i' .)" != "$dir_id" ]; then fail "$dir is not the folder it was"; fi
    "${writer[@]}" "$@"
)

make_release() {
    local changed commit record name owner mode inode uid=$UID held='' status=0 values i=0
    if [ "$arch" != amd64 ]; then fail "this machine is $arch: the downloads are x86-64, made on amd64"; fi
    changed=$(repo status --porcelain --untracked-files=no) || fail "git cannot read $here"
    [ -z "$changed" ] || fail "a release is made from the last commit alone; commit or stash the changes to:"$'\n'"$changed"
    commit=$(repo rev-parse --verify HEAD)
    sources "$commit"
    [ -n "$version" ] || fail "commit $commit sets no version in its CMakeLists.txt"
    record=Untitled3-$version.buildinfo files=("${downloads[@]}" "${downloads[@]/%/.sha256}" "$record")
    # DIR, where under sudo the sudo user writes.
    if [ "$me" = root ] && [ -n "${SUDO_UID:-}" ]; then
        uid=$SUDO_UID name=$(id -nu -- "$SUDO_UID") || fail "the sudo user, uid $SUDO_UID, has no name"
        writer=(runuser -u "$name" --)
    fi
    [ -d "${dir%/*}/" ] || fail "no folder ${dir%/*}, which $dir goes into"
    if [ -L "$dir" ] || { [ -e "$dir" ] && [ ! -d "$dir" ]; }; then fail "$dir is not a folder"; fi
    if [ -d "$dir" ]; then
        [ -z "$(ls -A -- "$dir")" ] || fail "$dir is not empty"
    else
        "${writer[@]}" mkdir -m 700 -- "$dir" 2>/dev/null || fail "cannot make the folder $dir"
        made=1
    fi
    read -r owner mode inode < <(stat -c '%u %a %d:%i' -- "$dir")
    [ "$owner" = "$uid" ] || fail "$dir is not the folder of uid $uid, who writes the release"
    if ((8#$mode & 8#022)); then fail "other users can write into $dir"; fi
    dir_id="$owner $inode" taken=1 options=(--variant=minbase)
    debian make "${archives[@]}" || fail "mmdebstrap could not make the Debian, or the build in it failed"
    cd "$work/out"
    ls -- "${files[@]:0:6}" >/dev/null || fail "the build did not make all of ${files[*]:0:6}"
    [ -s packages ] || fail "the Debian's list of packages is empty"
    values=("$version" "$commit" "$(dated '%cI (%ct)' "$commit")" "$(date -u -R)" "$arch")
    for name in "${archives[@]}"; do
        read -r _ _ name _ <<<"$name"
        values+=("$(sed -n "s/^$name: //p" dates)")
        [ -n "${values[-1]}" ] || fail "the Debian has no date of the archive $name"
    done
    for name in "${downloads[@]}"; do values+=("$(sum_size "$name") $name"); done
    for name in "${form[@]}"; do if [[ $name == *'*' ]]; then echo "${name%'*'}${values[i++]}"; else echo "$name"; fi; done >"$record"
    sed 's/^/ /; $!s/$/,/' packages >>"$record"
    # Into DIR whole or not at all: a signal meanwhile waits for the end.
    # shellcheck disable=SC2064 # the signal's name, fixed now
    for signal in INT TERM HUP; do trap "held=$signal" "$signal"; done
    tar -cf - -- "${files[@]}" | in_dir tar -xf - --no-same-owner || status=$?
    if [ -n "$made" ] && [ "$status" -eq 0 ]; then in_dir chmod 755 . || status=$?; fi
    if [ -n "$held" ]; then interrupted "$held"; fi
    if [ "$status" -ne 0 ]; then fail "could not write the release into $dir"; fi
    taken='' made=''
    sha256sum -- "${files[@]}"
    echo "release.sh: Untitled3 $version, commit $commit, made in $dir"
}

verify_release() {
    local records record got=$work/got lines=() faults=() forms=() line i name sum members wanted='' prev='' head=''
    local commit='' committed built built_at time dates sums packages listed=() recorded=() mirrors=("${@:3}")
    [ -d "$dir" ] || fail "no folder $dir"
    records=("$dir"/Untitled3-*.buildinfo)
    [ ${#records[@]} -eq 1 ] || fail "$dir holds ${#records[@]} records Untitled3-X.Y.buildinfo, where a release has one"
    record=${records[0]##*/}
    # Ends where a fault was found, naming each and any of the record's form: judge [WHEN]
    judge() {
        if [ ${#faults[@]} -eq 0 ]; then return; fi
        printf 'release.sh: %s\n' "${faults[@]}" "${forms[@]}" "the release in $dir does not hold$*" >&2; exit 1
    }
    # A regular file of DIR, of at most LIMIT bytes, copied once into $got; else a fault: read_in NAME LIMIT
    mkdir "$got"
    read_in() {
        local kind size
        read -r size kind < <(stat -c '%s %F' -- "$dir/$1" 2>/dev/null) || kind=none
        case $kind in
        regular*) if [ "$size" -gt "$2" ]; then faults+=("$1: $size bytes, where a release's are at most $2")
        elif cp -RP -- "$dir/$1" "$got/" && [ -f "$got/$1" ] && [ ! -L "$got/$1" ] && [ "$(stat -c %s "$got/$1")" -le "$2" ]; then
            return 0
        else faults+=("$1: could not be read as a regular file"); fi ;;
        none) faults+=("$1: not in $dir") ;;
        *) faults+=("$1: a $kind, where a release has a regular file") ;;
        esac
        return 1
    }
    # The record: printable ASCII and newlines alone, in lines of at most 200 bytes.
    if [[ $record =~ [^\ -~] ]]; then faults+=("the record's name holds a byte that is not printable ASCII"); fi
    if [ ${#faults[@]} -eq 0 ] && read_in "$record" 65536; then
        line=$(grep -anvxm1 '[ -~]\{0,200\}' -- "$got/$record" | cut -d: -f1) || [ $? -eq 1 ] || fail "cannot read $record"
        if [ -n "$line" ]; then faults+=("$record, line $line: a byte that is not printable ASCII, or more than 200 bytes")
        elif [ -n "$(tail -c 1 -- "$got/$record")" ]; then faults+=("$record: its last line has no newline"); fi
    fi
    judge "; nothing was built"
    mapfile -t lines <"$got/$record"
    # The record, line by line, in make's form, the values checked below; a package at least past it.
    for ((i = 0; i <= ${#form[@]} || i < ${#lines[@]}; i++)); do
        line=${lines[i]-(none)} name=${form[i]- *}
        # shellcheck disable=SC2053 # a pattern, where * stands for any value
        if [[ $line != $name ]]; then forms+=("$record, line $((i + 1)): '$line', where make writes '$name'"); break; fi
    done
    # The record's values, by name: value NAME, the first field NAME's; items NAME, a list's lines as they stand.
    value() { printf '%s\n' "${lines[@]}" | awk -v f="$1: " 'index($0, f) == 1 && !n++ { print substr($0, length(f) + 1) }'; }
    items() { printf '%s\n' "${lines[@]}" | awk -v f="$1:" '/^[^ ]/ { on = $0 == f; next } on'; }
    commit=$(value Commit) built=$(value Build-Date) on=$(value Build-Architecture)
    mapfile -t dates < <(items Archive-Dates)
    mapfile -t sums < <(items Checksums-Sha256)
    mapfile -t packages < <(items Installed-Build-Depends)
    [[ $commit =~ ^[0-9a-f]{40}$ ]] || faults+=("$record: Commit '$commit', where a commit is named by 40 hex digits")
    head=$(repo rev-parse --verify HEAD) || fail "git cannot read HEAD in $here"
    name=$(tags "$head")
    if [ -n "$name" ] && [ "$commit" != "$head" ]; then
        faults+=("the clone is at $head, tagged $name, and the record names commit '$commit': not the release of $name")
    fi
    # The commit, in the project's history, names the files of the release.
    name=$(repo cat-file -t "$commit" 2>/dev/null) || name=''
    if [ -n "$name" ] && [ "$name" != commit ]; then faults+=("$record: Commit '$commit' names a $name, not a commit"); fi
    judge "; nothing was built"
    if [ -z "$name" ] ||
        [ -z "$(repo for-each-ref --contains "$commit" refs/heads refs/remotes refs/tags)" ]; then
        fail "no branch or tag of the clone $here reaches the record's commit $commit: fetch the project's branches" \
            "and tags (git fetch --tags origin), then verify again; nothing was built: no verdict"
    fi
    sources "$commit"
    if [ -z "$version" ]; then faults+=("commit $commit sets no version in its CMakeLists.txt: it makes no release"); fi
    judge "; nothing was built"
    if [ "$record" != "Untitled3-$version.buildinfo" ]; then faults+=("$record: not the name of version $version's record"); fi
    if [ "$(value Version)" != "$version" ]; then faults+=("$record: Version '$(value Version)', where the commit sets $version"); fi
    committed=$(dated '%cI (%ct)' "$commit")
    if [ "$(value Commit-Date)" != "$committed" ]; then faults+=("$record: Commit-Date '$(value Commit-Date)', not $committed"); fi
    # A date of make's form in ZONE, in seconds, read by date only once it has that form: seconds VALUE ZONE
    seconds() {
        [[ $1 =~ ^[A-Z][a-z]{2},\ [0-9]{2}\ [A-Z][a-z]{2}\ [0-9]{4}\ [0-9]{2}:[0-9]{2}:[0-9]{2}\ "$2"$ ]] &&
            [ "$(date -u -d "$1" "+%a, %d %b %Y %H:%M:%S $2")" = "$1" ] && date -d "$1" +%s
    }
    built_at=$(seconds "$built" +0000) || built_at=0
    if [ "$built_at" -lt "$(dated %ct "$commit")" ] || [ "$built_at" -gt "$(date +%s)" ]; then
        faults+=("$record: Build-Date '$built', not a date of make's form between the commit's and now")
    fi
    [[ $on =~ ^[a-z0-9][a-z0-9-]*$ ]] || faults+=("$record: Build-Architecture '$on', not an architecture")
    for line in "${dates[@]}"; do
        time=$(seconds "${line#*: }" UTC) || time=$((built_at + 1))
        if [ "$time" -gt "$built_at" ]; then faults+=("$record: '$line', not an archive's date before the build"); fi
    done
    for i in "${!sums[@]}"; do
        if [[ ${sums[i]} =~ ^\ ([0-9a-f]{64}\ [0-9]+)\ ([^ ]+)$ ]]; then recorded+=("${BASH_REMATCH[1]}") listed+=("${BASH_REMATCH[2]}")
        else recorded+=('') listed+=("('${sums[i]}': no sum, size and name)"); fi
    done
    if [ "${listed[*]}" != "${downloads[*]}" ]; then
        faults+=("$record: Checksums-Sha256 lists ${listed[*]}, where a release lists ${downloads[*]}, in that order")
    fi
    # Each package once, in make's order; their names and versions go to mmdebstrap.
    for i in "${!packages[@]}"; do
        line=${packages[i]}
        if [ "$i" -eq $((${#packages[@]} - 1)) ]; then line+=,; fi
        if ! [[ $line =~ ^\ (([a-z0-9][a-z0-9+.-]+):("$on"|all))\ \(=\ ([0-9]([A-Za-z0-9.+~:-]*[A-Za-z0-9~])?)\),$ ]] ||
            ! [[ ${BASH_REMATCH[1]} > $prev ]] || [ "${BASH_REMATCH[2]}" = "${prev%%:*}" ]; then
            faults+=("$record: '${packages[i]}', not NAME:$on or NAME:all (= VERSION), each name once, in make's order")
            break
        fi
        prev=${BASH_REMATCH[1]} wanted+=${wanted:+,}${BASH_REMATCH[2]}=${BASH_REMATCH[4]}
    done
    # With nothing built: the files as published.
    for i in 0 1 2; do
        name=${downloads[i]} sum=${recorded[i]-}
        if read_in "$name" 1048576 && [ "$(sum_size "$got/$name")" != "$sum" ]; then
            faults+=("$name: not the sum and size of the record")
        fi
        if read_in "$name.sha256" 1048576 && ! printf '%s  %s\n' "${sum% *}" "$name" | cmp -s - "$got/$name.sha256"; then
            faults+=("$name.sha256: not the line that CPack writes for $name with the record's sum")
        fi
    done
    # The source package's names, whole (tar escapes a newline, tab or backslash), against the commit's.
    name=${downloads[2]%.tar.gz}
    if ! members=$(tar -tzf "$got/$name.tar.gz" --quoting-style=escape 2>/dev/null); then
        if [ -f "$got/$name.tar.gz" ]; then faults+=("$name.tar.gz: not a .tar.gz that can be read"); fi
    elif [[ $members == *\\* ]]; then
        faults+=("$name.tar.gz holds a name with a character that may hide it, such as a newline: $(grep -m1 -F "\\" <<<"$members")")
    else
        while read -r line; do faults+=("$name.tar.gz $line"); done < <(comm -3 <(sort <<<"$members") <(
            tar -tf "$work/in.tar" | sed "/^release.sh$/d; s|^src/|$name/|" | sort) | sed 's/^\t/lacks /; /^lacks /!s/^/adds /')
    fi
    # A record of another form than HEAD's release.sh writes may be of the release.sh that made it.
    if [ ${#faults[@]} -eq 0 ] && [ ${#forms[@]} -gt 0 ] && [ "$commit" != "$head" ]; then
        printf 'release.sh: %s\n' "${forms[@]}" >&2
        fail "HEAD's release.sh writes records of another form: check out the release's commit or tag (git checkout vX.Y)," \
            "then verify again; nothing was built: no verdict"
    fi
    faults+=("${forms[@]}") forms=()
    judge "; nothing was built"
    if [ "$on" != "$arch" ]; then fail "the release was made on $on, and this machine is $arch; nothing was built: no verdict"; fi
    if [ ${#mirrors[@]} -eq 0 ]; then mirrors=("${archives[@]}"); fi
    options=(--variant=custom --include="$wanted" --aptopt='APT::Cmd::Pattern-Only "true"') # names, never patterns
    if ! debian verify "${mirrors[@]}"; then
        if ! grep -q "^E: Version '.*' for '.*' was not found$" "$work/log"; then
            fail "mmdebstrap could not make the Debian of the record, or the build in it failed: no verdict"
        fi
        {
            echo "release.sh: the archive no longer has these versions of the record:"
            sed -n "s/^E: Version '\(.*\)' for '\(.*\)' was not found$/    \2 \1/p" "$work/log"
            echo "Take every package from Debian's snapshot archive of the build's date:"
            line="deb [check-valid-until=no] http://snapshot.debian.org/archive/\\1/$(date -u -d "$built" +%Y%m%dT%H%M%SZ) "
            printf '    %s verify %s' "${self@Q}" "${dir@Q}"
            printf " \\\\\n        '%s'" "${archives[@]}" | sed -E "s#'deb https?://[^ ]*/(debian[^ ]*) #'$line#g"
            echo
        } >&2
        fail "nothing was built: no verdict"
    fi
    if ! diff <(printf '%s\n' "${packages[@]}" | sed 's/^ //; s/,$//') "$work/out/packages" >&2; then
        faults+=("the Debian made of the record's packages holds others (< the record, > made)")
    fi
    for name in "${downloads[@]}"; do
        if ! cmp -s "$got/$name" "$work/out/$name"; then faults+=("$name: made again, it differs from the published file"); fi
    done
    judge
    name=$(tags "$commit")
    echo "release.sh: the three downloads in $dir, made again from commit $commit" \
        "(${name:+tagged }${name:-which no tag names}) in the Debian of their record, are the same byte for byte"
}

if [ "$1" = make ]; then make_release; else verify_release "$@"; fi
