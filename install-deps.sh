#!/usr/bin/env bash
# Installs the packages of Debian 12 or 13 for building the program (build), for that and the
# downloads (downloads: MinGW-w64 and zip, what a release's Debian holds), for those and the
# Windows tests under Wine (release), or for all that and every test (test). It installs and
# nothing else; run it as root. A usage error exits 2.
#   sudo ./install-deps.sh build|downloads|release|test
set -eu
build="cmake ninja-build g++"
downloads="$build g++-mingw-w64-x86-64-win32 zip"
release="$downloads wine64"
test="$release clang libgtest-dev clang-format clang-tidy cppcheck shellcheck valgrind strace time"
case ${1-}:$# in
build:1) packages=$build ;;
downloads:1) packages=$downloads ;;
release:1) packages=$release ;;
test:1) packages=$test ;;
*) echo "usage: $0 build|downloads|release|test" >&2; exit 2 ;;
esac
# shellcheck disable=SC2086 # split on purpose: a word per package
DEBIAN_FRONTEND=noninteractive exec apt-get install -y --no-install-recommends $packages
