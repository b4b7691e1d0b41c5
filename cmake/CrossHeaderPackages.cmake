# Header-only packages for cross builds. The build machine's nlohmann-json and
# CLI11 serve any target, but their package files point at /usr/include,
# which a cross compiler must never see (it holds the build machine's C
# library headers). Their headers are therefore staged in a folder of their
# own, the imported targets are made here with that folder, and find_package
# is pointed at the build machine's package files, which then keep the
# targets made here.
set(staged ${CMAKE_BINARY_DIR}/cross-headers)
file(MAKE_DIRECTORY ${staged})

# package | imported target | header folder under /usr/include | package files
set(header_packages
  "nlohmann_json|nlohmann_json::nlohmann_json|nlohmann|/usr/share/cmake/nlohmann_json"
  "CLI11|CLI11::CLI11|CLI|/usr/share/cmake/CLI11")

foreach(row IN LISTS header_packages)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 package)
  list(GET fields 1 target)
  list(GET fields 2 folder)
  list(GET fields 3 config_dir)
  if(NOT EXISTS /usr/include/${folder} OR NOT EXISTS ${config_dir})
    continue()
  endif()
  if(NOT EXISTS ${staged}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${staged}/${folder} SYMBOLIC)
  endif()
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${staged})
  endif()
  set(${package}_DIR ${config_dir} CACHE PATH "" FORCE)
endforeach()
