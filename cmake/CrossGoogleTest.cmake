# GoogleTest for cross builds: the build machine's libraries are of the wrong
# architecture (and, for the 32-bit Windows layout, of the wrong structure
# layout), so the sources that Debian ships in /usr/src/googletest are built
# with the cross toolchain and its flags. Defines GTest::gtest,
# GTest::gtest_main, GTest::gmock and GTest::gmock_main as find_package(GTest)
# would, and sets GTest_FOUND.
set(VESTREL_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources to build for cross configurations")

if(EXISTS "${VESTREL_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${VESTREL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(library gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
  set(GTest_FOUND TRUE)
else()
  message(STATUS "Unit tests left out: needs GoogleTest's sources in ${VESTREL_GOOGLETEST_SOURCE_DIR}"
                 " (Debian: apt-get install googletest)")
  set(GTest_FOUND FALSE)
endif()
