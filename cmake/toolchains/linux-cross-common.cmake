# Shared part of the Linux cross toolchains whose programs run under qemu's
# user mode. The including file sets VESTREL_CROSS_TRIPLE, VESTREL_QEMU and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${VESTREL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VESTREL_CROSS_TRIPLE}-g++)

set(VESTREL_CROSS_SYSROOT /usr/${VESTREL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${VESTREL_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The test programs run under qemu, which takes the target's loader and
# libraries from the cross sysroot. Without qemu the programs are still built,
# and the tests report that they were skipped.
find_program(VESTREL_QEMU_PROGRAM NAMES ${VESTREL_QEMU})
if(VESTREL_QEMU_PROGRAM)
  # LeakSanitizer stops the world through ptrace, which qemu's user mode
  # cannot give it: in a sanitized build its check would hang each program
  # at exit, so programs run without it (harmless where nothing is sanitized).
  set(CMAKE_CROSSCOMPILING_EMULATOR env ASAN_OPTIONS=detect_leaks=0
      ${VESTREL_QEMU_PROGRAM} -L ${VESTREL_CROSS_SYSROOT})
endif()
