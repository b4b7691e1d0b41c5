# macOS (Vestrel.plm, a universal bundle: x86_64 for macOS 10.13 and later,
# arm64 for macOS 11 and later) built on Linux with Debian's clang 14 and
# ld64.lld 14, with no Apple SDK: cmake/macos-sdk stands in for one. It holds
# C headers of our own for just what the plug-in's sources call and a text
# stub of the system library that lists just the symbols the plug-in imports,
# so a new call fails to compile and a new import fails to link. Nothing made
# here can be run; tests/platforms/macos_checks.cmake inspects the bundle.
set(CMAKE_SYSTEM_NAME Darwin)
# The SDK stand-in holds the C headers the plug-in calls and no C++ library:
# only the plug-in and its checks are built, not the host kit or test hosts.
set(VESTREL_PLUGIN_ONLY_TOOLCHAIN ON)
set(CMAKE_SYSTEM_VERSION 17)  # Darwin 17 is macOS 10.13
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET x86_64-apple-macos10.13)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-macos10.13)
# Both slices in one compile (-arch x86_64 -arch arm64); clang raises the
# arm64 slice's minimum to macOS 11, the first on that processor.
set(CMAKE_OSX_ARCHITECTURES "x86_64;arm64" CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET 10.13 CACHE STRING "")
set(CMAKE_OSX_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../macos-sdk CACHE PATH "")

# LLVM's tools for Mach-O files, kept in the cache where scripts (the
# release) read them.
foreach(row AR|llvm-ar RANLIB|llvm-ranlib NM|llvm-nm OBJDUMP|llvm-objdump STRIP|llvm-strip
            INSTALL_NAME_TOOL|llvm-install-name-tool)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 tool)
  find_program(CMAKE_${name} NAMES ${tool}-14 ${tool})
endforeach()
find_program(VESTREL_DWARFDUMP NAMES llvm-dwarfdump-14 llvm-dwarfdump)

# libc++'s headers are asked for by name (<cmath>); the stub folder has the
# one the plug-in includes. -B finds the lipo that joins the slices.
set(CMAKE_C_FLAGS_INIT "-B${CMAKE_CURRENT_LIST_DIR}/macos-tools")
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++ -B${CMAKE_CURRENT_LIST_DIR}/macos-tools")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld")
# The stub library has no main program's start-up: CMake's compiler checks
# compile without linking.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH ${CMAKE_OSX_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
