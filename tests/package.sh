#!/usr/bin/env bash
# Makes the build's package with CPack, checks it against the checksum beside it,
# unpacks it in an empty folder whose name holds brackets, spaces and an ampersand,
# checks that it holds exactly its files, and checks the report of the program
# found there, and of the ZIP's launcher.
# usage: package.sh CPACK CMAKE CONFIG NAME EXPECTED PROGRAM [WORD...]
#   PROGRAM: its path inside the unpacked package, after any emulator's WORDs
set -eu
cpack=$1 cmake=$2 config=$3 name=$4 expected=$5
shift 5
emulator=("${@:1:$#-1}") # the WORDs before PROGRAM
rm -rf package
"$cpack" --config "$config" -B package/made >/dev/null
cd package/made
sha256sum --quiet -c "$name".*.sha256
read -r _ file <"$name".*.sha256
mkdir "../unpacked [2] (a & b)" && cd "../unpacked [2] (a & b)"
"$cmake" -E tar xf "../made/$file"
case $file in # exactly these files, and no other
*.zip) files=("$name/LICENSE.txt" "$name/README.txt" "$name/Run Untitled3.cmd" "$name/Untitled3.exe") ;;
*) files=("$name/bin/Untitled3" "$name/share/doc/Untitled3/LICENSE" "$name/share/doc/Untitled3/README") ;;
esac
diff <(printf '%s\n' "${files[@]}") <(find "$name" -type f | LC_ALL=C sort) || { echo "FAIL: the files in $file"; exit 1; }

# The launcher, started by its full path from another folder, as cmd /c starts
# it. From a console: the report alone. As a double-click starts it, with
# Explorer's command line (Wine's cmd has none, so it is set here): the report,
# then a prompt for a key, which the pipe gives. Either way, CRLF line ends and
# the program's status: 0, or 1 when the report finds no room. Alone in a
# folder, as a ZIP opened without extracting it runs it: a word to extract the
# ZIP, the prompt when double-clicked, and a status that is not 0.
for launcher in "$name"/*.cmd; do
    [ -e "$launcher" ] || continue # the .tar.gz has none
    # The launcher at PATH, quoted (cmd /c %L% keeps the quotes), and a double-click's command line.
    at() { L=\"Z:${PWD//\//\\}\\${1//\//\\}\" click="cmdcmdline=C:\\windows\\system32\\cmd.exe /c \"$L \""; }
    at "$launcher"
    launch() { (cd / && echo | env L="$L" "$@" "${emulator[@]}" cmd /c %L%); }
    n=$(wc -c <"$expected")
    if grep -qv $'\r$' "$launcher"; then echo "FAIL: $launcher has lines without CRLF"; exit 1; fi
    launch >out 2>err && cmp "$expected" out && [ ! -s err ] || { cat err; echo "FAIL: the launcher from a console"; exit 1; }
    launch "$click" >out && cmp -n "$n" "$expected" out && [ "$(wc -c <out)" -gt "$n" ] || { echo "FAIL: the launcher as a double-click"; exit 1; }
    launch "$click" >/dev/full 2>err && status=0 || status=$?
    [ "$status" -eq 1 ] || { echo "FAIL: the launcher with no room for the report: status $status"; exit 1; }
    mkdir alone && cp "$launcher" alone && at "alone/${launcher##*/}"
    ! launch >out && grep -q Extract out && n=$(wc -c <out) && ! launch "$click" >out && [ "$(wc -c <out)" -gt "$n" ] ||
        { cat out; echo "FAIL: the launcher without the program"; exit 1; }
    echo "ok (launcher): $launcher"
done
exec bash "$(dirname "$0")/report.sh" plain "$expected" "$@"
