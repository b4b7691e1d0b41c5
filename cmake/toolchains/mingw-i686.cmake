# 32-bit Windows (Vestrel.plm) with the mingw-w64 cross compiler.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VESTREL_CROSS_TRIPLE i686-w64-mingw32)
# SSE2 arithmetic instead of the x87 unit: x87 rounds through 80-bit registers,
# and the stored points and vertex positions would then differ in their last
# bits from the 64-bit builds'.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
