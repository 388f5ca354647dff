#!/usr/bin/env bash
# Makes the build's package with CPack, checks it against the checksum beside it,
# unpacks it in an empty folder and checks the report of the program found there.
# usage: package.sh CPACK CMAKE CONFIG NAME EXPECTED PROGRAM [WORD...]
#   PROGRAM: its path inside the unpacked package, after any emulator's WORDs
set -eu
cpack=$1 cmake=$2 config=$3 name=$4 expected=$5
shift 5
rm -rf package
"$cpack" --config "$config" -B package/made >/dev/null
cd package/made
sha256sum --quiet -c "$name".*.sha256
read -r _ file <"$name".*.sha256
cd ..
"$cmake" -E tar xf "made/$file"
exec bash "$(dirname "$0")/report.sh" plain "$expected" "$@"
