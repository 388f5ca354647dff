#!/usr/bin/env bash
# Installs the packages of Debian 12 or 13 for building the program (build), or
# for that and every test (test). It installs and nothing else; run it as root:
#   sudo ./install-deps.sh build|test
set -eu
build="cmake ninja-build g++"
test="clang libgtest-dev clang-format clang-tidy cppcheck shellcheck valgrind strace time
      g++-mingw-w64-x86-64-win32 wine64 zip"
case ${1:-} in
build) packages=$build ;;
test) packages="$build $test" ;;
*) echo "usage: $0 build|test" >&2; exit 2 ;;
esac
# shellcheck disable=SC2086 # split on purpose: a word per package
DEBIAN_FRONTEND=noninteractive exec apt-get install -y --no-install-recommends $packages
