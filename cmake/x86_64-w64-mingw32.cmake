# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-win32).
# Its compilers are named with their thread model, win32, so that the one that
# Debian's alternatives choose for the plain name makes no other executable.
# Wine, where present, runs the executable for the tests: wine64, or wine where
# a Wine release has only that.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CACHE)
if(WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})
endif()
