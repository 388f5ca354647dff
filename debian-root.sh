# shellcheck shell=bash
# Sourced, as root, by release.sh and .ci/fresh-debian: a fresh Debian made by
# mmdebstrap in a work folder under /var/tmp, with its own proc, ptys and
# /dev/shm and a user dev, gone when the script ends. Its mounts live in the
# script's own mount namespace, and its removal stays on its own file system,
# so that neither reaches outside it, even after a failure. Each step in it
# runs in a PID namespace of its own, so that a signal (INT, TERM or HUP) kills
# the step at once, with all that it started; the script then removes the work
# folder, says that it was interrupted and exits with 128 + the signal's number.

# Runs the script again in a mount namespace of its own, whose mounts end with
# it; there, makes the work folder $work: in_namespace "$@", before anything
# else. Returns 1 where it cannot make the work folder.
in_namespace() {
    if [ -z "${DEBIAN_ROOT_UNSHARED:-}" ]; then
        DEBIAN_ROOT_UNSHARED=1 exec unshare -m --propagation private bash "$0" "$@"
    fi
    local signal
    me=$(basename -- "$(realpath -- "$0")")
    exec {stderr}>&2 # for the last word, wherever the script then writes
    trap debian_cleanup EXIT
    for signal in INT TERM HUP; do
        # shellcheck disable=SC2064 # the signal's name, fixed now
        trap "interrupted $signal" "$signal"
    done
    work=$(mktemp -d -p /var/tmp "$me.XXXXXX") && chmod 755 "$work" # apt reads in there as _apt
}

# Kills the step that runs, and ends the script as the signal would: interrupted NAME
interrupted() {
    local first state
    set +e
    trap - ERR
    trap '' INT TERM HUP
    if [ -n "${running:-}" ]; then
        # The namespace's first process, killed from out here, where it cannot
        # ignore it (apt-get, for one, drops --kill-child's signal); all in the
        # namespace die with it, before it is a zombie or gone.
        read -r first _ <"/proc/$running/task/$running/children"
        kill -KILL "$running" ${first:+"$first"}
        wait "$running" 2>/dev/null
        for _ in $(seq 100); do
            state=$(cat "/proc/$first/stat" 2>/dev/null) || break # gone
            state=${state##*) }
            if [ "${state:0:1}" = Z ]; then break; fi
            sleep 0.1
        done
    fi
    interrupted_by=$1
    exit $((128 + $(kill -l "$1")))
}

# Unmounted lazily, deepest first, so that a process still in there cannot stop the clean-up.
debian_cleanup() {
    set +e
    trap - ERR
    if [ -n "${work:-}" ]; then
        findmnt -rno TARGET | grep -F "$work/" | sort -r | xargs -r umount --lazy
        rm -rf --one-file-system "$work"
    fi
    if [ -n "${interrupted_by:-}" ]; then
        echo "$me: interrupted by SIG$interrupted_by; the Debian and its work are removed" >&"$stderr"
    fi
}

# Runs a command in the background, in a PID namespace of its own, which
# nothing it started (wineserver) outlives, and waits for it, so that a signal
# stops the wait at once: step [UNSHARE-OPTION...] -- COMMAND...
step() {
    local options=() status=0
    while [ "$1" != -- ]; do
        options+=("$1")
        shift
    done
    unshare --pid --fork --kill-child "${options[@]}" "${@:2}" &
    running=$!
    wait "$running" || status=$?
    running=
    return "$status"
}

# Makes the Debian in $root: debian_root MMDEBSTRAP-OPTION... SUITE [MIRROR...]
# mmdebstrap's messages, in the C locale, go to $work/mmdebstrap.log; where it
# fails, all but its progress go to stderr too, each line cut short (apt's are
# long). Its own mounts are in a mount namespace of its own.
debian_root() {
    local options=()
    while [ "${1#--}" != "$1" ]; do
        options+=("$1")
        shift
    done
    root=$work/root
    echo "=== a fresh Debian $1 in $root"
    if ! LC_ALL=C step --mount -- mmdebstrap "${options[@]}" "$1" "$root" "${@:2}" 2>"$work/mmdebstrap.log"; then
        grep -v '^I: ' "$work/mmdebstrap.log" | cut -c 1-200 >&2
        return 1
    fi
    cp /etc/resolv.conf "$root/etc/" &&
        chroot "$root" useradd -m dev &&
        mount -t proc proc "$root/proc" &&
        mount -t devpts devpts "$root/dev/pts" &&
        mount -t tmpfs tmpfs "$root/dev/shm"
}

# Runs a command in the Debian as root: as_root COMMAND [ARG...]
as_root() { step -- chroot "$root" "$@"; }

# Runs a command in the Debian as dev, in an environment of its own, with
# VAR=VALUE words first for more, and with a proc of its own (LeakSanitizer
# reads it): as_dev [VAR=VALUE...] COMMAND [ARG...]
as_dev() {
    step --mount-proc="$root/proc" -- chroot "$root" runuser -u dev -- \
        env -i HOME=/home/dev USER=dev PATH=/usr/local/bin:/usr/bin:/bin "$@"
}
