# The macOS bundle, which nothing here can load, inspected instead: both
# slices are bundles without undefined symbols for the expected processor and
# macOS, the only library loaded is the system library, the only export is
# _Main, every import is the system library's and listed in its stub, the
# arm64 slice carries a valid ad-hoc signature, and the record offsets in the
# objects' debug information are the macOS column of every checked record.
# A check whose tool is missing is reported as skipped.
find_program(VESTREL_PYTHON3 python3)
if(NOT VESTREL_DWARFDUMP)
  find_program(VESTREL_DWARFDUMP NAMES llvm-dwarfdump-14 llvm-dwarfdump dwarfdump)
endif()
set(check_script ${CMAKE_CURRENT_SOURCE_DIR}/macos_bundle_check.py)
# The stub checks belong to our own stand-in for the SDK (macos-cross); a
# real SDK's libSystem exports far more than the plug-in imports.
set(stub)
get_filename_component(sysroot "${CMAKE_OSX_SYSROOT}" REALPATH)
if(sysroot STREQUAL "${PROJECT_SOURCE_DIR}/cmake/macos-sdk")
  set(stub ${sysroot}/usr/lib/libSystem.tbd)
endif()

# name | what | arguments after it, separated by ^
set(macos_checks
  "bundle_without_undefined_symbols|bundle|$<TARGET_FILE:Vestrel>"
  "loads_only_the_system_library|libraries|$<TARGET_FILE:Vestrel>"
  "exports_only_Main|exports|$<TARGET_FILE:Vestrel>"
  "arm64_adhoc_signature|signature|$<TARGET_FILE:Vestrel>"
  "record_offsets_in_debug_information|layout|${PROJECT_SOURCE_DIR}^$<TARGET_OBJECTS:vestrel_core>")
if(stub)
  list(APPEND macos_checks "imports_listed_in_the_stub|imports|$<TARGET_FILE:Vestrel>^${stub}")
else()
  vestrel_skipped_test(macos.imports_listed_in_the_stub
                       "built with a real SDK (${CMAKE_OSX_SYSROOT}), not with cmake/macos-sdk's stub")
endif()

foreach(row IN LISTS macos_checks)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 what)
  list(GET fields 2 arguments)
  string(REPLACE "^" ";" arguments "${arguments}")
  if(NOT VESTREL_PYTHON3 OR NOT CMAKE_OBJDUMP OR NOT VESTREL_DWARFDUMP)
    vestrel_skipped_test(macos.${name} "python3, llvm-objdump or llvm-dwarfdump not found")
    continue()
  endif()
  add_test(NAME macos.${name} COMMAND ${VESTREL_PYTHON3} ${check_script} ${what} ${arguments}
           COMMAND_EXPAND_LISTS)
  set_tests_properties(macos.${name} PROPERTIES LABELS "platforms;macos"
    ENVIRONMENT "VESTREL_OBJDUMP=${CMAKE_OBJDUMP};VESTREL_DWARFDUMP=${VESTREL_DWARFDUMP}")
endforeach()

# The stub is a tripwire: a bundle that calls a C library function the plug-in
# does not call must fail to link against it, naming the function.
if(stub)
  set(arch_flags)
  foreach(arch IN LISTS CMAKE_OSX_ARCHITECTURES)
    list(APPEND arch_flags -arch ${arch})
  endforeach()
  separate_arguments(cxx_flags UNIX_COMMAND "${CMAKE_CXX_FLAGS}")
  separate_arguments(link_flags UNIX_COMMAND "${CMAKE_MODULE_LINKER_FLAGS}")
  add_test(NAME macos.new_import_fails_the_link
           COMMAND ${CMAKE_CXX_COMPILER} --target=${CMAKE_CXX_COMPILER_TARGET} ${arch_flags}
                   -isysroot ${CMAKE_OSX_SYSROOT} -mmacosx-version-min=${CMAKE_OSX_DEPLOYMENT_TARGET}
                   ${cxx_flags} ${link_flags} -nostdlib++ -bundle
                   -o ${CMAKE_CURRENT_BINARY_DIR}/new_import.plm
                   ${CMAKE_CURRENT_SOURCE_DIR}/macos_new_import.cpp)
  set_tests_properties(macos.new_import_fails_the_link PROPERTIES LABELS "platforms;macos"
    PASS_REGULAR_EXPRESSION "undefined symbol[^\n]*_strlen")
endif()
