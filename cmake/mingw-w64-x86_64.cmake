# Cross-building for 64-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The -posix compilers: the win32-thread ones lack std::mutex, which
# GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARNWICK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARNWICK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNWICK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNWICK_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
