#!/usr/bin/env bash
# Makes the build's package with CPack, checks it against the checksum beside it,
# unpacks it in an empty folder whose name holds brackets, spaces and an ampersand,
# checks that it holds exactly its files and that its program needs of the system
# what its text promises alone, and checks the report of the program found there,
# and of the ZIP's launcher.
# usage: package.sh CPACK CMAKE OBJDUMP CONFIG NAME EXPECTED [WORD...] PROGRAM
#   OBJDUMP: the build's own, or empty for a program that is not shipped
#   PROGRAM: its path inside the unpacked package, after any emulator's WORDs
# A usage error exits 2.
set -eu
if [ $# -lt 7 ]; then
    echo "usage: package.sh CPACK CMAKE OBJDUMP CONFIG NAME EXPECTED [WORD...] PROGRAM" >&2
    exit 2
fi
fail() { echo "FAIL: $*"; exit 1; }
cpack=$1 cmake=$2 objdump=$3 config=$4 name=$5 expected=$6
shift 6
emulator=("${@:1:$#-1}") # the WORDs before PROGRAM
rm -rf package
"$cpack" --config "$config" -B package/made >/dev/null
cd package/made
sha256sum --quiet -c "$name".*.sha256
read -r _ file <"$name".*.sha256
mkdir "../unpacked [2] (a & b)" && cd "../unpacked [2] (a & b)"
"$cmake" -E tar xf "../made/$file"
case $file in # exactly these files, and no other; what the program needs
*.zip)
    files=("$name/LICENSE.txt" "$name/README.txt" "$name/Run Untitled3.cmd" "$name/Untitled3.exe")
    needs="KERNEL32.dll msvcrt.dll" glibc=
    ;;
*)
    files=("$name/bin/Untitled3" "$name/share/doc/Untitled3/LICENSE" "$name/share/doc/Untitled3/README")
    needs=libc.so.6 glibc=GLIBC_2.34
    ;;
esac
if ! diff <(printf '%s\n' "${files[@]}") <(find "$name" -type f | LC_ALL=C sort); then
    fail "the files in $file"
fi

# The program as shipped: no symbols, the system's DLLs or libraries that its
# text names, and no symbol of a glibc newer than it says.
if [ -n "$objdump" ]; then
    program=${!#}
    dump() { LC_ALL=C "$objdump" "$1" "$program"; }
    symbols=$(dump -t | sed -n '/^SYMBOL TABLE:$/,$ { /^no symbols$/d; /./p }')
    [ "$symbols" = "SYMBOL TABLE:" ] || fail "$program has symbols; the first: $(sed -n 2p <<<"$symbols")"
    needed=$(dump -p | sed -nE 's/^[[:space:]]*(NEEDED[[:space:]]+|DLL Name: )//p' | paste -sd ' ')
    [ "$needed" = "$needs" ] || fail "$program needs $needed, not $needs alone"
    if [ -n "$glibc" ]; then
        newest=$(dump -T | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1)
        [ -n "$newest" ] || fail "objdump found no GLIBC version in $program"
        [ "$(printf '%s\n' "$newest" "$glibc" | sort -V | tail -n 1)" = "$glibc" ] ||
            fail "$program needs $newest, newer than $glibc"
    fi
fi

# The launcher, started by its full path from another folder, as cmd /c starts
# it. From a console: the report alone. As a double-click starts it, with
# Explorer's command line (Wine's cmd has none, so it is set here): the report,
# then a prompt for a key, which the pipe gives. Either way, CRLF line ends and
# the program's status: 0, or 1 when the report finds no room. Alone in a
# folder, as a ZIP opened without extracting it runs it: a word to extract the
# ZIP, the prompt when double-clicked, and a status that is not 0.
for launcher in "$name"/*.cmd; do
    [ -e "$launcher" ] || continue # the .tar.gz has none
    if grep -qv $'\r$' "$launcher"; then fail "$launcher has lines without CRLF"; fi
    # L: the launcher at PATH as Windows names it, quoted, as cmd /c %L% keeps it.
    # click: the command line of a double-click on it.
    at() {
        L=\"$("${emulator[@]}" winepath -w "$PWD/$1")\"
        click="cmdcmdline=C:\\windows\\system32\\cmd.exe /c \"$L \""
    }
    launch() { (cd / && echo | env L="$L" "$@" "${emulator[@]}" cmd /c %L%); }
    n=$(wc -c <"$expected")

    at "$launcher"
    launch >out 2>err || fail "the launcher from a console: status $?, stderr: $(cat err)"
    [ ! -s err ] || fail "the launcher from a console wrote to stderr: $(cat err)"
    cmp "$expected" out || fail "the launcher from a console: not the report"
    launch "$click" >out || fail "the launcher as a double-click: status $?"
    cmp -n "$n" "$expected" out || fail "the launcher as a double-click: not the report"
    [ "$(wc -c <out)" -gt "$n" ] || fail "the launcher as a double-click: no prompt for a key"
    status=0
    launch "$click" >/dev/full 2>err || status=$?
    [ "$status" -eq 1 ] || fail "the launcher with no room for the report: status $status"

    mkdir alone
    cp "$launcher" alone
    at "alone/${launcher##*/}"
    if launch >out; then fail "the launcher alone: status 0"; fi
    grep -q Extract out || fail "the launcher alone: no word to extract the ZIP: $(cat out)"
    n=$(wc -c <out)
    if launch "$click" >out; then fail "the launcher alone as a double-click: status 0"; fi
    [ "$(wc -c <out)" -gt "$n" ] || fail "the launcher alone as a double-click: no prompt for a key"
    echo "ok (launcher): $launcher"
done
exec bash "$(dirname "$0")/report.sh" plain "$expected" "$@"
