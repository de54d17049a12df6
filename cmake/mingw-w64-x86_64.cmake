# mingw-w64-x86_64.cmake: cross-compiling for 64-bit Windows with Debian's
# mingw-w64. The posix thread-model compilers, since std::thread and
# std::mutex need them; the tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs and the DLLs carry their C++ runtime and winpthread inside,
# so that they run from any folder (and under wine) with no DLL to find.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# ctest and the tests' discovery start the programs through wine, quietly.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all wine)
