# Cross-compiles tarve for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
#
# or simply `cmake --workflow --preset windows`. Programs are linked statically, so that
# tarve.exe and the test programs need no MinGW DLLs at run time. When Wine is found,
# the top-level CMakeLists.txt makes it the emulator that runs the tests.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The compilers with POSIX threads come first: GoogleTest needs std::mutex, which
# Debian's default (win32 threads) variant of GCC 12 lacks.
set(TARVE_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${TARVE_MINGW_PREFIX}-gcc-posix ${TARVE_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TARVE_MINGW_PREFIX}-g++-posix ${TARVE_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TARVE_MINGW_PREFIX}-windres)

# Headers and libraries come from the MinGW sysroot only; programs from the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes (libgcc, libstdc++, winpthread) go into each program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
