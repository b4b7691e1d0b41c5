# 32-bit x86 Linux laid out like 32-bit Windows: 4-byte pointers and doubles
# (and 64-bit integers) aligned to 8 bytes inside structures, which is what
# -malign-double gives. Everything, GoogleTest included, is built with the
# flag, since it changes the layout of every structure holding a double.
# The programs run under qemu-i386.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VESTREL_CROSS_TRIPLE i686-linux-gnu)
set(VESTREL_QEMU qemu-i386)
# SSE2 arithmetic, as in the 32-bit Windows build (see mingw-i686.cmake).
set(CMAKE_C_FLAGS_INIT "-malign-double -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-malign-double -msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
