#!/usr/bin/env bash
# Releases: HEAD's downloads built on amd64 in a fresh Debian 12, and a release checked by making
# it again from the project's history, at the top of a clone (the user's own; root runs git as
# its owner). Each Debian is one mmdebstrap run (unshare mode) from the archives below, trusting
# Debian's keys alone, or from SOURCE, and release-debian.sh builds in it as dev: a subordinate id
# of the user's or, as root, no host account's, in a folder of root's; as root, making the Debian
# and installing its packages (from those archives) run as the host's root.
#   ./release.sh make DIR   The downloads, tested (the Windows one under Wine), their .sha256 and
#     the record Untitled3-X.Y.buildinfo into DIR, all or none: new, or an empty folder of the
#     user's (under sudo, of the sudo user, who writes it); as root, where none other can write.
#   ./release.sh verify DIR [SOURCE...]   The record and files against the clone's commit (HEAD,
#     where a tag names HEAD), then that commit built in a Debian of the record's packages from
#     the archives below or apt lines SOURCE ('deb [OPTIONS] URI SUITE [COMPONENT...]'): what
#     differs is kept, and named. DIR's files are never trusted, nor run.
# Exits: make 0 made, 1 not; verify 0 holds, 1 not (each fault named, 20 at most), 2 no verdict
# (no folder DIR, none or two records, a file the caller may not read, a clock behind Build-Date,
# a commit no branch or tag reaches, a record of another release.sh's form, another architecture,
# a version the archive lacks, a step that could not run). Usage error: 2; a signal: 128 + its
# number, leaving nothing. Failures end "release.sh: ...". Of the caller's environment, PATH and
# sudo's SUDO_UID alone count.
if compgen -e | grep -qvxE 'PATH|PWD|SHLVL|SUDO_UID'; then # the script again, without the rest
    exec env -i PATH="$PATH" ${SUDO_UID:+"SUDO_UID=$SUDO_UID"} "$BASH" -- "$0" "$@"
fi
set -eEu -o pipefail && shopt -s nullglob extglob
umask 022 # the same files, whatever the caller's umask
export LC_ALL=C GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null GIT_ATTR_NOSYSTEM=1 \
    GIT_NO_REPLACE_OBJECTS=1 GIT_CONFIG_COUNT=1 GIT_CONFIG_KEY_0=core.attributesFile \
    GIT_CONFIG_VALUE_0=/dev/null # git reads no settings or attributes of the host's or the user's
if ! case ${1-}:$# in make:2 | verify:*) [ $# -ge 2 ] && [ -n "$2" ] ;; *) false ;; esac then
    echo "usage: ./release.sh make DIR | verify DIR [SOURCE...]" >&2; exit 2
fi
cannot=1 && if [ "$1" = verify ]; then cannot=2; fi # a step that could not run
fail() { echo "release.sh: $*" >&2; exit "$cannot"; }
trap 'if [ "$BASHPID" = $$ ]; then echo "release.sh: could not run: $BASH_COMMAND" >&2; fi
    exit "$cannot"' ERR # a command that failed unchecked ends the script too
printable() { if [[ $1 == *[^\ -~]* ]]; then echo "${1@Q}"; else echo "$1"; fi; }
self=$(realpath -- "$0") dir=$(realpath -ms -- "$2") && here=${self%/*}
shown=$(printable "$dir") clone=$(printable "$here") stage='' tmpdir=/var/tmp
cd / # mmdebstrap cleans up only from a folder that it can read
arch=$(dpkg --print-architecture 2>/dev/null) || arch=unknown
[ "$arch" = amd64 ] || fail "this machine is $arch: releases are made and made again on amd64"
suite=bookworm # and its archives, as the record names them
archives=("deb http://deb.debian.org/debian $suite main"
    "deb http://deb.debian.org/debian $suite-updates main"
    "deb http://security.debian.org/debian-security $suite-security main")
suites=("${archives[@]#* * }") && suites=("${suites[@]%% *}")
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
dev_id=65432 # the Debian's dev; as root, no host account's
rfc='[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}'
# The record: make writes each <NAME> by its name, holding it to pattern[NAME] as verify does.
layout=("Format: 1.0" "Source: Untitled3" "Version: <Version>" "Commit: <Commit>"
    "Commit-Date: <Commit-Date>" "Build-Suite: $suite" "Build-Date: <Build-Date>"
    "Build-Architecture: <Build-Architecture>" "Build-Archives:" "${archives[@]/#/ }"
    "Archive-Dates:" "${suites[@]/*/ &: <Archive-Date>}" "Checksums-Sha256:" " <Sum>" " <Sum>"
    " <Sum>" "Installed-Build-Depends:") # & is the suite
declare -A pattern=([Version]='[0-9]+(\.[0-9]+)*' [Commit]='[0-9a-f]{40}'
    [Commit-Date]='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}[+-][0-9]{2}:[0-9]{2} \([0-9]+\)'
    [Build-Date]="$rfc \+0000" [Build-Architecture]=amd64
    [Archive-Date]="$rfc UTC" [Sum]='[0-9a-f]{64} [0-9]+ [!-~]+'
    [Package]='[a-z0-9][a-z0-9+.-]+:[a-z0-9-]+ \(= [0-9]([A-Za-z0-9.+~:-]*[A-Za-z0-9~])?\)')
# Who writes DIR (under sudo, the sudo user), and who reads the clone with git: its owner.
me=$(id -un) uid=$UID writer=() as_owner=() owner=$(stat -c %u -- "$here")
if [ "$me" = root ] && [ -n "${SUDO_UID-}" ]; then
    uid=$SUDO_UID name=$(id -nu -- "$uid") || fail "the sudo user, uid $uid, has no name"
    writer=(runuser -u "$name" --)
fi
if [ "$me" = root ] && [ "$owner" != 0 ]; then # never a user's fsmonitor, hooks or filters
    name=$(id -nu -- "$owner") || fail "$clone is uid $owner's, who has no name"
    as_owner=(runuser -u "$name" --)
elif [ "$me" != root ] && [ "$owner" != "$UID" ]; then
    fail "$clone is not $me's, and git reads a clone as its owner alone: use a clone of yours"
fi
repo() { "${as_owner[@]}" git -C "$here" "$@"; }
if [ "$(repo rev-parse --show-toplevel 2>/dev/null)" != "$here" ]; then
    fail "$clone is no clone's top (a source package?): release.sh trusts the project's history" \
        "alone, so clone it, check out the release's tag, and run its release.sh"
fi
objects=$(repo rev-parse --path-format=absolute --git-common-dir)/objects
if [ "$me" = root ] && { getent passwd $dev_id || getent group $dev_id || awk -F: -v id=$dev_id \
    '$2 <= id && id < $2 + $3 { f = 1 } END { exit !f }' /etc/sub[ug]id </dev/null; } >/dev/null
then
    fail "the Debian's dev would be $dev_id, an id that this machine gives an account"
fi
command -v mmdebstrap >/dev/null || fail "no mmdebstrap: sudo apt-get install mmdebstrap uidmap"
[ -s "$keyring" ] || fail "no $keyring: sudo apt-get install debian-archive-keyring"
work=$(mktemp -d -p /var/tmp release.sh.XXXXXX) || fail "cannot make a work folder in /var/tmp"
trap 'trap - ERR; set +e; if [ -n "$stage" ]; then "${writer[@]}" rm -rf -- "$stage"; fi
    rm -rf --one-file-system "$work" "${keys:-$work}"' EXIT
keys=$(mktemp -d "$work.XXXXXX") || fail "cannot make a folder in /var/tmp" # apt's keys alone
chmod 755 "$keys" && cp -- "$keyring" "$keys/"
if [ "$me" = root ]; then tmpdir=$work/debian && mkdir -m 700 "$tmpdir"; fi # none but root's
# Ends with 128 + the signal's number once mmdebstrap, in a process group of its own (set -m),
# has ended what it started and removed its Debian (TERM: apt-get waits out INT): interrupted NAME
interrupted() {
    set +e; trap - ERR; trap '' INT TERM HUP
    for pid in $(jobs -p); do kill -s TERM -- "-$pid" 2>/dev/null; done; wait
    echo "release.sh: interrupted by SIG$1; nothing is left behind" >&2
    exit $((128 + $(kill -l "$1")))
}
# shellcheck disable=SC2064 # the signal's name, fixed now
for signal in INT TERM HUP; do trap "interrupted $signal" "$signal"; done
fault() { echo "$*" >>"$work/faults"; }
dated() { # a commit's date in FORMAT, UTC as +00:00, which git 2.4x writes Z: dated FORMAT COMMIT
    repo log -1 --no-show-signature --encoding=UTF-8 --format="$1" "$2" | sed 's/Z (/+00:00 (/'; }
sum_size() { echo "$(sha256sum <"$1" | cut -c1-64) $(stat -c %s "$1")"; } # sum_size FILE
downloads() { printf "Untitled3-$1-%s\n" win64.zip Linux.tar.gz Source.tar.gz; } # ... VERSION
seconds() { [[ $1 =~ ^$rfc\ (\+0000|UTC)$ ]] && # a date as make writes it: seconds DATE
    [ "$(date -u -d "$1" '+%a, %d %b %Y %T' 2>&1)" = "${1% *}" ] && date -d "$1" +%s; }
tags() { # the tags that name COMMIT, however deeply nested: tags COMMIT
    repo for-each-ref --format='%(refname)^{commit} %(refname:strip=2)' refs/tags |
        repo cat-file --batch-check='%(objectname) %(rest)' |
        awk -v commit="$1" '$1 == commit { print $2 }' | paste -sd ' '; }
# The commit's files, read past the clone's attributes, with their date and release-debian.sh,
# root's own, in $work/in.tar; the commit's version in $work/version: sources COMMIT
sources() {
    git init -q --bare "$work/git" && echo "$objects" >"$work/git/objects/info/alternates"
    git -C "$work/git" archive --prefix=src/ "$1" >"$work/in.tar" ||
        fail "git cannot read the files of commit $1 in $clone"
    mkdir -p "$work/in/src" && dated %ct "$1" >"$work/in/src/SOURCE_DATE_EPOCH"
    tar -rf "$work/in.tar" --owner=0 --group=0 -C "$work/in" src/SOURCE_DATE_EPOCH -C "$here" \
        release-debian.sh
    tar -xOf "$work/in.tar" src/CMakeLists.txt |
        sed -n 's/^project(Untitled3 VERSION \([0-9.]*\) .*/\1/p' >"$work/version"
}
# $work/in.tar built into $work/out in a Debian of install-deps.sh's packages (tested under
# Wine) or of the packages INCLUDE exactly, from the apt lines SOURCE: debian make|INCLUDE SOURCE...
debian() {
    local run="chroot \"\$1\" bash" status=0 test='test' # tested under Wine
    local options=(--variant=minbase --customize-hook="$run /src/install-deps.sh downloads")
    if [ "$1" != make ]; then
        test='' options=(--variant=custom --include="$1" --aptopt='APT::Cmd::Pattern-Only "true"')
    fi # apt takes names, never patterns
    echo "=== a fresh Debian $suite, made by mmdebstrap" && set -m
    TMPDIR=$tmpdir mmdebstrap --mode=unshare --keyring="$keys" --keyring=/dev/null \
        --skip=check/signed-by --customize-hook="tar-in $work/in.tar /" "${options[@]}" \
        --customize-hook="$run /release-debian.sh $dev_id $test" \
        --customize-hook="sync-out /out $work/out" -- "$suite" /dev/null "${@:2}" \
        </dev/null >"$work/log" 2>&1 &
    set +m && wait $! || status=$?
    if [ "$status" -ne 0 ]; then sed '/^I: /d' "$work/log" | tail -n 20 | cut -c 1-200 >&2; fi
    return "$status"
}
# DIR/NAME, opened once, through no link and waiting on no FIFO, into $work if a regular
# file of at most LIMIT bytes; else a fault, or no verdict if unreadable: read_in DIR NAME LIMIT
read_in() {
    local why status=0
    why=$(perl -MFcntl -e 'sysopen(IN, $ARGV[0], O_RDONLY | O_NOFOLLOW | O_NONBLOCK) or
        print($!{ENOENT} ? "not there" : $!{ELOOP} ? "a symbolic link" : "$!"), exit(1 + 2 *
        !!$!{EACCES}); -f IN or print("not a regular file"), exit 1; my ($n, $got, $buf) = 0;
        open(OUT, ">", $ARGV[2]) or exit 4; while ($got = sysread(IN, $buf, 65536)) {
            ($n += $got) <= $ARGV[1] or print("more than $ARGV[1] bytes"), unlink($ARGV[2]), exit 1;
            print OUT $buf or exit 4 }
        defined $got && close OUT or exit 4' "$1/$2" "$3" "$work/$2") || status=$?
    if [ "$status" -eq 1 ]; then fault "$2: $why, where a release has a file of at most $3 bytes"
    elif [ "$status" -eq 3 ]; then fail "cannot read $2: run verify as a user who can read $shown"
    elif [ "$status" -ne 0 ]; then fail "could not read $2 in $shown"; fi
    return "$status"
}
# Ends with STATUS where a fault was found, naming 20 at most, then VERDICT: judge STATUS VERDICT...
judge() {
    [ -s "$work/faults" ] || return 0
    verdict=${*:2} awk 'NR <= 20 { gsub(/[^ -~]/, "?"); print "release.sh: " substr($0, 1, 188) }
        END { if (NR > 20) print "release.sh: and", NR - 20, "more faults"
            print "release.sh: " ENVIRON["verdict"] }' "$work/faults" >&2; exit "$1"
}
# Each <NAME> of the record FILE into the array VALUES, a line a value: read_record FILE VALUES
read_record() {
    local -n values=$2
    local lines=() i name line want
    mapfile -t lines <"$1"
    for name in "${!pattern[@]}"; do values["$name"]=''; done
    if [ ${#lines[@]} -gt ${#layout[@]} ]; then lines[-1]+=,; fi # each package, a comma after
    for ((i = 0; i < ${#lines[@]} || i <= ${#layout[@]}; i++)); do
        want=${layout[i]- <Package>,} line=${lines[i]-(none)} name=${want#*<} && name=${name%>*}
        if [ "$name" != "$want" ] && [[ $line == "${want%%<*}"* && $line == *"${want#*>}" ]]; then
            line=${line#"${want%%<*}"} && line=${line%"${want#*>}"}
            values["$name"]+=${values[$name]:+$'\n'}$line
            [[ $line =~ ^(${pattern[$name]})$ ]] ||
                fault "${1##*/}, line $((i + 1)): $name '$line', not of make's form"
        elif [ "$line" != "$want" ]; then
            fault "${1##*/}, line $((i + 1)): '$line', where make writes '$want'"
        fi
    done
}
# The record's VALUES against each other, the commit's and release VERSION's files in FOLDER:
# check_values FOLDER RECORD VALUES VERSION
check_values() {
    local -n record=$3
    local sums=() names=() built committed at line i=0 name prev=''
    committed=$(dated '%cI (%ct)' "${record[Commit]}") && at=${committed##*\(} && at=${at%)}
    built=$(seconds "${record[Build-Date]}") || built=0
    if [ "$2" != "Untitled3-$4.buildinfo" ]; then fault "$2: not the name of $4's record"; fi
    if [ "${record[Version]}" != "$4" ]; then fault "$2: Version, where the commit sets $4"; fi
    if [ "${record[Commit-Date]}" != "$committed" ]; then fault "$2: Commit-Date not $committed"; fi
    if [ "$built" -lt "$at" ]; then fault "$2: Build-Date before the commit's"; fi
    while read -r line; do
        [ "$(seconds "$line" || echo $((built + 1)))" -le "$built" ] ||
            fault "$2: an archive dated '$line', after the build"
    done <<<"${record[Archive-Date]}"
    mapfile -t sums <<<"${record[Sum]}" && mapfile -t names < <(downloads "$4")
    [ "${sums[*]##* }" = "${names[*]}" ] ||
        fault "$2: Checksums-Sha256 lists ${sums[*]##* }, where a release lists ${names[*]}"
    while read -r name line; do # NAME:ARCH (= VERSION), each NAME once, in the order of NAME:ARCH
        [[ $name > $prev && ${name%%:*} != "${prev%%:*}" && ${name#*:} == @(all|amd64) ]] ||
            fault "$2: '$name $line', not each package once, in order, of all or the record's arch"
        prev=$name
    done <<<"${record[Package]}"
    for name in "${names[@]}"; do # each download and its .sha256, if they can be read
        line=${sums[i++]% *}
        if read_in "$1" "$name" 1048576 && [ "$(sum_size "$work/$name")" != "$line" ]; then
            fault "$name: not the sum and size of the record"
        fi
        read_in "$1" "$name.sha256" 1048576 || continue
        printf '%s  %s\n' "${line% *}" "$name" | cmp -s - "$work/$name.sha256" ||
            fault "$name.sha256: not the line that CPack writes for $name with the record's sum"
    done
}
# The source package's members, read within bounds, against the commit's: source_faults FILE TOP
source_faults() {
    local name=${1##*/} status=0 why="not a .tar.gz that can be read"
    if ! gzip -dc <"$1" 2>/dev/null | head -c $((64 << 20 | 1)) >"$work/source.tar"; then
        if [ "$(stat -c %s "$work/source.tar")" -gt $((64 << 20)) ]; then why="over 64 MiB"; fi
        fault "$name: $why" && return
    fi
    tar -t --quoting-style=escape <"$work/source.tar" 2>/dev/null | head -n 10001 | # no unpacking
        cut -c 1-4097 >"$work/members" || status=${PIPESTATUS[0]}
    if ! awk -v name="$name" 'NR > 10000 { print name ": more than 10,000 members"; exit 1 }
        length($0) > 4096 { print name ": a name of more than 4,096 bytes: " $0; exit 1 }
        /\\/ { print name ": a name with a character that may hide it: " $0; exit 1 }' \
        "$work/members" >>"$work/faults"; then return
    elif [ "$status" -ne 0 ]; then fault "$name: $why" && return; fi
    comm -3 <(sort "$work/members") <(tar -tf "$work/in.tar" |
        sed "/^release-debian.sh$/d; s|^src/|$2/|" | sort) |
        sed "s/^\t/lacks /; /^lacks /!s/^/adds /; s|^|$name |" >>"$work/faults"
}
# The release in FOLDER against the clone at HEAD, before any build; faults end it with VERDICT
# (1; 2 for another form): check_release FOLDER RECORD HEAD VALUES VERDICT
check_release() {
    local -n checked=$4
    local line commit tagged kind='' version
    if [[ $2 =~ [^\ -~] ]]; then fault "the record's name holds a byte that is not printable ASCII"
    elif read_in "$1" "$2" 65536; then
        line=$(grep -anvxm1 '[ -~]\{0,200\}' "$work/$2" | cut -d: -f1) || [ $? -eq 1 ]
        if [ -n "$line" ]; then fault "$2, line $line: not printable ASCII, or over 200 bytes"
        elif [ -n "$(tail -c 1 -- "$work/$2")" ]; then fault "$2: no newline at its end"; fi
    fi
    judge 1 "$5"
    read_record "$work/$2" "$4"
    commit=${checked[Commit]} tagged=$(tags "$3")
    if grep -s ", where make writes '" "$work/faults" >"$work/forms" && [ -z "$tagged" ] &&
        [ "$commit" != "$3" ]; then # that of the release.sh that made it, perhaps
        mv "$work/forms" "$work/faults" && judge 2 "HEAD's release.sh writes records of another" \
            "form: check out the release's tag, then verify again; nothing was built: no verdict"
    fi
    [ -z "$tagged" ] || [ "$commit" = "$3" ] ||
        fault "the clone is at $3, tagged $tagged, and the record names $commit: not the release"
    if [[ $commit =~ ^[0-9a-f]{40}$ ]]; then kind=$(repo cat-file -t "$commit" 2>/dev/null) || :; fi
    if [ -n "$kind" ] && [ "$kind" != commit ]; then fault "$2: Commit names a $kind"; fi
    judge 1 "$5"
    if [ -z "$kind" ] || [ -z "$(repo for-each-ref --count=1 --contains "$commit")" ]; then
        fail "no branch or tag of the clone reaches the record's commit: fetch them (git fetch" \
            "--tags origin), then verify again; nothing was built: no verdict"
    fi
    sources "$commit" && version=$(<"$work/version")
    if [ -z "$version" ]; then fault "commit $commit sets no version: it makes no release"; fi
    find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | awk 'NR == FNR { ours[$0]; next }
        !($0 in ours) && n++ < 20 { print "a file that no release holds: " $0 }' <(echo "$2" &&
        downloads "$version" | sed 'p; s/$/.sha256/') - >>"$work/faults"
    judge 1 "$5"
    check_values "$1" "$2" "$4" "$version"
    line=Untitled3-$version-Source
    if [ -s "$work/$line.tar.gz" ]; then source_faults "$work/$line.tar.gz" "$line"; fi
    judge 1 "$5"
}
# A new folder of the writer's alone, $stage, holding FILE... of $work/out: staged TEMPLATE FILE...
staged() {
    stage=$("${writer[@]}" mktemp -d -- "$1") && tar -cf - -C "$work/out" -- "${@:2}" |
        "${writer[@]}" tar -xf - -C "$stage" --no-same-owner
}
# Fails unless DIR is new or empty and the writer's and, as root, its path holds no link and no
# folder another's or open to others but sticky: writable DIR
writable() {
    local path=$1 owner mode kind
    { [ ! -e "$1" ] && [ ! -L "$1" ]; } || { [ ! -L "$1" ] && [ -z "$(ls -A -- "$1")" ] &&
        [ "$(stat -c %u -- "$1")" = "$uid" ]; } || fail "$shown is neither new nor an empty" \
        "folder of uid $uid's, who writes the release"
    [ -d "${1%/*}/" ] || fail "no folder $(printable "${1%/*}/"), which $shown goes into"
    while [ "$me" = root ] && [ "$path" != / ] && path=${path%/*} && path=${path:-/}; do
        read -r owner mode kind < <(stat -c '%u %a %F' -- "$path")
        if [ "$kind" != directory ] || [[ $owner != @(0|$uid) ]] ||
            ((8#$mode & 8#22 && !(8#$mode & 8#1000))); then
            fail "$(printable "$path"): a link, or a folder another user can change; root writes" \
                "only where no other user can"
        fi
    done
}
# Builds HEAD and writes its release, each of the record's <NAME> by its name: make_release DIR
make_release() {
    local commit version record files=() name line dates sums
    # shellcheck disable=SC2034 # made: the record's values, as check_release reads them
    local -A made=() given=()
    [ -z "$(repo status --porcelain --untracked-files=no)" ] ||
        fail "a release is made from the last commit alone: commit or stash your changes"
    commit=$(repo rev-parse --verify HEAD)
    if [ "$(date +%s)" -lt "$(dated %ct "$commit")" ]; then
        fail "this machine's clock is behind the date of commit $commit; nothing was built"
    fi
    sources "$commit" && version=$(<"$work/version") && record=Untitled3-$version.buildinfo
    [ -n "$version" ] || fail "commit $commit sets no version in its CMakeLists.txt"
    mapfile -t files < <(downloads "$version") && writable "$1"
    debian make "${archives[@]}" || fail "mmdebstrap could not make the Debian (HACKING.md says" \
        "what it needs), or the build in it or its tests failed"
    dates=$(for name in "${suites[@]}"; do sed -n "s/^$name: //p" "$work/out/dates"; done)
    sums=$(for name in "${files[@]}"; do echo "$(sum_size "$work/out/$name") $name"; done)
    given=([Version]=$version [Commit]=$commit [Commit-Date]=$(dated '%cI (%ct)' "$commit")
        [Build-Date]=$(date -u -R) [Build-Architecture]=amd64 [Archive-Date]=$dates$'\n'
        [Sum]=$sums$'\n')
    for line in "${layout[@]}"; do # each <NAME>, the next line of given[NAME], none once used up
        name=${line#*<} && name=${name%>}
        if [ "$name" != "$line" ]; then
            line=${line%%<*}${given[$name]%%$'\n'*} && given[$name]=${given[$name]#*$'\n'}
        fi
        echo "$line"
    done >"$work/out/$record"
    sed 's/^/ /; $!s/$/,/' "$work/out/packages" >>"$work/out/$record"
    files+=("${files[@]/%/.sha256}" "$record")
    if ! staged "$1.XXXXXX" "${files[@]}" || ! "${writer[@]}" chmod 755 -- "$stage"; then
        fail "could not write the release beside $shown"
    fi
    check_release "$stage" "$record" "$commit" made \
        "make would write a release that verify refuses; nothing was written"
    trap '' INT TERM HUP # from here, all of it or none
    "${writer[@]}" mv -T -- "$stage" "$1" || fail "could not put the release into $shown"
    stage=''
    (cd "$1" && sha256sum -- "${files[@]}")
    echo "release.sh: Untitled3 $version, commit $commit, made in $shown"
}
# Builds the record's commit in a Debian of its packages and compares: verify_release DIR SOURCE...
verify_release() {
    local records head names=() mirrors=("${@:2}") wanted line name
    local -A found=()
    [ -d "$1" ] || fail "no folder $shown"
    records=("$1"/Untitled3-*.buildinfo)
    [ ${#records[@]} -eq 1 ] || fail "$shown holds ${#records[@]} records Untitled3-X.Y.buildinfo"
    head=$(repo rev-parse --verify HEAD) || fail "git cannot read HEAD in $clone"
    check_release "$1" "${records[0]##*/}" "$head" found \
        "the release in $shown does not hold; nothing was built"
    [ "$(seconds "${found[Build-Date]}")" -le "$(date +%s)" ] ||
        fail "this machine's clock is behind the record's Build-Date; nothing was built: no verdict"
    wanted=$(sed -E 's/:[^ ]* \(= (.*)\)$/=\1/' <<<"${found[Package]}" | paste -sd ,)
    if [ ${#mirrors[@]} -eq 0 ]; then mirrors=("${archives[@]}"); fi
    if ! debian "$wanted" "${mirrors[@]}"; then
        if grep -q "^E: Version '.*' for '.*' was not found$" "$work/log"; then
            line=$(date -u -d "${found[Build-Date]}" +%Y%m%dT%H%M%SZ)
            line="deb [check-valid-until=no] http://snapshot.debian.org/archive/\\1/$line"
            printf "    '%s'\n" "${archives[@]}" | sed -E "s#'deb [^ ]*/(debian[^ ]*) #'$line #" >&2
            fail "no archive has that version: Debian may have withdrawn it, or it was never" \
                "Debian's. Its snapshot archive may have it: to try, verify with the SOURCE lines" \
                "above; nothing was built: no verdict"
        fi
        fail "mmdebstrap could not make the record's Debian (HACKING.md says what it needs), or" \
            "build in it: no verdict"
    fi
    comm -3 <(echo "${found[Package]}") "$work/out/packages" | # a package that differs, a fault
        sed 's/^\t/the Debian holds /; /^the Debian/!s/^/the Debian lacks /' >>"$work/faults"
    mapfile -t names < <(downloads "${found[Version]}")
    for name in "${names[@]}"; do
        cmp -s "$work/$name" "$work/out/$name" || fault "$name: made again, it differs"
    done
    if [ -s "$work/faults" ] && staged /var/tmp/remade.XXXXXX "${names[@]}" packages; then
        name=cmp\ -l && if command -v diffoscope >/dev/null; then name=diffoscope; fi
        echo "release.sh: made again, kept in $stage: $name $shown/NAME $stage/NAME" >&2; stage=''
    fi
    judge 1 "the release in $shown does not hold"
    name=$(tags "${found[Commit]}")
    echo "release.sh: the release in $shown holds, made again from commit ${found[Commit]}" \
        "(${name:+tagged }${name:-which no tag names}) in the Debian of its record, byte for byte"
}

if [ "$1" = make ]; then make_release "$dir"; else verify_release "$dir" "${@:3}"; fi
