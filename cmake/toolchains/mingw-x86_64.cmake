# 64-bit Windows (Vestrel_64.plm) with the mingw-w64 cross compiler.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VESTREL_CROSS_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
