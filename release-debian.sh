#!/usr/bin/env bash
# release-debian.sh ID [test], run by release.sh as root in its Debian, from / with the commit's
# files in /src, root's own: the downloads built as dev (uid and gid ID) in a copy of /src and,
# once nothing of dev's runs, copied into /out with the archives' dates and the Debian's packages;
# with test, then the windows workflow under Wine: the same ZIP, no test skipped. Usage error: 2.
set -eu -o pipefail && export LC_ALL=C
[[ ${1-} =~ ^[0-9]+$ && $# -le 2 && ${2-test} = test ]] ||
    { echo "usage: release-debian.sh ID [test]" >&2; exit 2; }
fail() { echo "release.sh: $*" >&2; exit 1; }
trap "runuser -u dev -- bash -c 'kill -KILL -1' 2>/dev/null || :" EXIT # none of dev's left (Wine's)
as_dev() { runuser -u dev -- env -i -C /home/dev/src HOME=/home/dev PATH=/usr/bin:/bin "$@"; }
mkdir /out
for list in /var/lib/apt/lists/*_InRelease; do # apt took none dated ahead of the clock
    echo "$(sed -n 's/^Codename: //p' "$list"): $(sed -n 's/^Date: //p' "$list")"
done >/out/dates
mkdir /home/dev && cp -a /src /home/dev/src
groupadd -g "$1" dev && useradd -u "$1" -g dev -d /home/dev dev && chown -R dev: /home/dev
as_dev cmake --preset windows
as_dev cmake --build --preset windows
as_dev cpack --preset windows
as_dev cmake --workflow --preset release
runuser -u dev -- bash -c 'kill -KILL -1' 2>/dev/null || true # root reads what dev left
for file in /home/dev/src/build/*/Untitled3-*; do
    if [ -L "$file" ] || [ ! -f "$file" ]; then fail "$file is not a regular file"; fi
    cp -- "$file" /out/
done
dpkg-query -W -f '${db:Status-Abbrev} ${Package}:${Architecture} (= ${Version})\n' |
    sed -n 's/^ii  *//p' | sort >/out/packages
if [ $# -eq 1 ]; then exit 0; fi
bash /src/install-deps.sh release
as_dev cmake --workflow --preset windows | tee /root/windows.log || fail "a Windows test failed"
if grep -q '(Skipped)' /root/windows.log; then fail "a Windows test was skipped"; fi
zip=$(echo /out/Untitled3-*-win64.zip)
as_dev cmp -- "$zip" "build/windows/${zip#/out/}" || fail "the ZIP tested is not the one made"
