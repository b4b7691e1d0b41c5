# Shared part of the two mingw-w64 toolchains. The including file sets
# VESTREL_CROSS_TRIPLE (x86_64-w64-mingw32 or i686-w64-mingw32) and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VESTREL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VESTREL_CROSS_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${VESTREL_CROSS_TRIPLE}-windres)

# Libraries and headers come from the mingw-w64 tree only, never from the
# build machine's /usr/include or /usr/lib.
set(CMAKE_FIND_ROOT_PATH /usr/${VESTREL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes are linked in, so that the plug-in and the host need
# no DLL beyond the system's own (KERNEL32, msvcrt).
set(VESTREL_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${VESTREL_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${VESTREL_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${VESTREL_STATIC_RUNTIME}")

# Windows programs built here run under wine. 64-bit ones under the system's
# wine64; 32-bit ones under 32-bit wine from a private i386 root on qemu-i386
# (the build machine's kernel runs no 32-bit programs), served by the
# system's 64-bit wineserver (see tests/platforms/wine_tests.cmake).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(VESTREL_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin)
  find_program(VESTREL_WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin)
else()
  find_program(VESTREL_WINESERVER NAMES wineserver64 PATHS /usr/lib/wine /usr/lib64/wine)
endif()
