#!/usr/bin/env bash
# Installs the packages of Debian 12 or 13 for building the program (build), for
# that and the downloads, the Windows build and its tests under Wine included
# (release), or for all that and every test (test). It installs and nothing
# else; run it as root:
#   sudo ./install-deps.sh build|release|test
set -eu
build="cmake ninja-build g++"
release="g++-mingw-w64-x86-64-win32 wine64 zip"
test="clang libgtest-dev clang-format clang-tidy cppcheck shellcheck valgrind strace time"
case ${1:-} in
build) packages=$build ;;
release) packages="$build $release" ;;
test) packages="$build $release $test" ;;
*) echo "usage: $0 build|release|test" >&2; exit 2 ;;
esac
# shellcheck disable=SC2086 # split on purpose: a word per package
DEBIAN_FRONTEND=noninteractive exec apt-get install -y --no-install-recommends $packages
