# 64-bit big-endian Linux (IBM Z), to run the plug-in in the other byte order.
# The programs run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(VESTREL_CROSS_TRIPLE s390x-linux-gnu)
set(VESTREL_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
