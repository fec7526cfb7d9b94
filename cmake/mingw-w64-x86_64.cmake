# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain.
#
# The -posix variants of gcc/g++ are named on purpose: only they give std::thread,
# std::mutex and the rest of <thread> (the win32 thread model lacks them), and Qt
# needs them. Whatever alternative /usr/bin/x86_64-w64-mingw32-g++ points to does
# not matter then.
#
# Libraries, headers and CMake packages are looked for under the MinGW-w64 tree only
# (plus any prefix given with -DCMAKE_FIND_ROOT_PATH=...); programs run at build time
# come from the host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_W64_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_W64_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_W64_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_W64_TRIPLET}-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MINGW_W64_TRIPLET})
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
