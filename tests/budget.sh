#!/usr/bin/env bash
# Holds the program to the cost of the least that could do its job: a C program,
# linked the same way, that writes the same report with one write(2).
#   instructions (callgrind)   at most 1.25 times the reference's
#   writes to standard output  exactly one, to a file and to a pipe
#   peak memory (max RSS)      at most 1 MiB above the reference's
# usage: budget.sh PROGRAM REFERENCE   (a usage error exits 2)
set -u
if [ $# -ne 2 ]; then echo "usage: budget.sh PROGRAM REFERENCE" >&2; exit 2; fi
program=$1 reference=$2
missing=0
for need in valgrind:valgrind strace:strace /usr/bin/time:time; do # tool:package
    if ! command -v "${need%:*}" >/dev/null; then
        echo "skipped: no ${need%:*} (apt-get install ${need#*:})"
        missing=1
    fi
done
[ "$missing" -eq 0 ] || exit 77
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
failed=0
# What could not be measured fails the test: an empty count never reads as 0.
measured() { [[ "$*" =~ ^[0-9]+( [0-9]+)*$ ]] || { echo "FAIL: a count is missing"; exit 1; }; }

instructions() {
    rm -f "$dir/cg" && valgrind --tool=callgrind --callgrind-out-file="$dir/cg" "$1" >/dev/null 2>"$dir/cg.log" &&
        sed -n 's/^summary: //p' "$dir/cg"
}
ours=$(instructions "$program") theirs=$(instructions "$reference")
echo "instructions: $ours against $theirs"
measured "$ours" "$theirs"
[ $((ours * 100)) -le $((theirs * 125)) ] || { echo "FAIL: more than 1.25 times"; failed=1; }

# Checks that the traced run wrote to standard output (a file or a pipe) exactly once.
check_writes() {
    local count
    count=$(grep -c '^write(1,' "$dir/trace")
    rm -f "$dir/trace"
    echo "writes to a $1: $count"
    measured "$count"
    [ "$count" -eq 1 ] || { echo "FAIL: expected exactly one write"; failed=1; }
}
strace -o "$dir/trace" -e trace=write "$program" >"$dir/out"
check_writes file
strace -o "$dir/trace" -e trace=write "$program" | cat >/dev/null
check_writes pipe

peak() { rm -f "$dir/rss" && /usr/bin/time -f %M -o "$dir/rss" "$1" >/dev/null && cat "$dir/rss"; }
ours=$(peak "$program") theirs=$(peak "$reference")
echo "peak memory: $ours KiB against $theirs KiB"
measured "$ours" "$theirs"
[ "$ours" -le $((theirs + 1024)) ] || { echo "FAIL: more than 1 MiB above"; failed=1; }
exit $failed
