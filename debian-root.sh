# shellcheck shell=bash
# Sourced, as root, by release.sh and .ci/fresh-debian: a fresh Debian made by
# mmdebstrap in a folder under /var/tmp, with its own proc, ptys and /dev/shm
# and a user dev, gone when the script exits. Its mounts live in the script's
# own mount namespace, and its removal stays on its own file system, so that
# neither reaches outside it, even after a failure.

# Runs the script again in a mount namespace of its own, whose mounts end with
# it: in_namespace "$@", before anything else.
in_namespace() {
    if [ -z "${DEBIAN_ROOT_UNSHARED:-}" ]; then
        DEBIAN_ROOT_UNSHARED=1 exec unshare -m --propagation private bash "$0" "$@"
    fi
}

# Makes the Debian in $root: debian_root MMDEBSTRAP-OPTION... SUITE [MIRROR...]
# mmdebstrap's messages, in the C locale, go to $root.log; where it fails, all
# but its progress go to stderr too, each line cut short (apt's are long).
debian_root() {
    local options=()
    while [ "${1#--}" != "$1" ]; do
        options+=("$1")
        shift
    done
    root=$(mktemp -d -p /var/tmp "debian-$1.XXXXXX") || return 1
    trap debian_cleanup EXIT
    trap 'exit 1' INT TERM HUP
    echo "=== a fresh Debian $1 in $root"
    if ! LC_ALL=C mmdebstrap "${options[@]}" "$1" "$root" "${@:2}" 2>"$root.log"; then
        grep -v '^I: ' "$root.log" | cut -c 1-200 >&2
        return 1
    fi
    cp /etc/resolv.conf "$root/etc/" &&
        chroot "$root" useradd -m dev &&
        mount -t proc proc "$root/proc" &&
        mount -t devpts devpts "$root/dev/pts" &&
        mount -t tmpfs tmpfs "$root/dev/shm"
}

# Unmounted lazily, so that a process still in there cannot stop the clean-up.
debian_cleanup() {
    umount --lazy --quiet "$root/dev/shm" "$root/dev/pts" "$root/proc" 2>/dev/null || : # some may not be mounted yet
    rm -rf --one-file-system "$root" "$root.log"
}

# Runs a command in the Debian as dev, in an environment of its own, with
# VAR=VALUE words first for more, and in a PID namespace of its own, with its
# own proc (LeakSanitizer reads it), so that nothing it started (wineserver)
# outlives it: as_dev [VAR=VALUE...] COMMAND [ARG...]
as_dev() {
    unshare --pid --fork --kill-child --mount-proc="$root/proc" chroot "$root" runuser -u dev -- \
        env -i HOME=/home/dev USER=dev PATH=/usr/local/bin:/usr/bin:/bin "$@"
}
