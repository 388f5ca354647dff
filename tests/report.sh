#!/usr/bin/env bash
# Runs the program one way and checks, byte for byte, what it wrote and how it ended.
# usage: report.sh WAY EXPECTED [WORD...] PROGRAM
#   WAY: plain | args | stdin-closed     the whole report, status 0, stderr empty
#        full | stdout-closed | reader-gone
#                                        status 1, one line on stderr
#        sigpipe                         killed by SIGPIPE, stderr empty
# A usage error exits 2.
set -u
if [ $# -lt 3 ]; then echo "usage: report.sh WAY EXPECTED [WORD...] PROGRAM" >&2; exit 2; fi
way=$1 expected=$2
shift 2
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
out=$dir/out err=$dir/err

case $way in
plain) "$@" >"$out" 2>"$err" ;;
args) "$@" --help -x 'dos palabras' '' 8 >"$out" 2>"$err" ;;
stdin-closed) "$@" <&- >"$out" 2>"$err" ;;
full) "$@" >/dev/full 2>"$err" ;;
stdout-closed) "$@" >&- 2>"$err" ;;
reader-gone | sigpipe)
    # A pipe whose reader has closed: SIGPIPE, as a program starts with it, kills
    # the program; ignored (reader-gone), it makes the writes fail with EPIPE.
    # The reader is opened first, so that opening the writer does not wait.
    mkfifo "$dir/fifo"
    exec 3<>"$dir/fifo"
    exec 4>"$dir/fifo" 3<&-
    if [ "$way" = sigpipe ]; then signal=--default-signal=PIPE; else signal=--ignore-signal=PIPE; fi
    env "$signal" "$@" >&4 2>"$err"
    ;;
*) echo "unknown way: $way" >&2; exit 2 ;;
esac
status=$?

fail() { echo "FAIL ($way): $*"; exit 1; }
case $way in
plain | args | stdin-closed)
    [ "$status" -eq 0 ] || fail "exit status $status, expected 0"
    if [ -s "$err" ]; then fail "unexpected stderr: $(cat "$err")"; fi
    cmp "$expected" "$out" || { od -c "$out"; fail "report differs from $expected"; }
    ;;
sigpipe)
    [ "$status" -eq $((128 + $(kill -l PIPE))) ] || fail "exit status $status, expected a kill by SIGPIPE"
    if [ -s "$err" ]; then fail "unexpected stderr: $(cat "$err")"; fi
    ;;
*)
    [ "$status" -eq 1 ] || fail "exit status $status for a report that was not written, expected 1"
    [ "$(wc -l <"$err")" -eq 1 ] || fail "expected one line on stderr, got: $(cat "$err")"
    cat "$err"
    ;;
esac
echo "ok ($way): status $status"
