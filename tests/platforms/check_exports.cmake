# Fails unless the plug-in module PLUGIN exports exactly one symbol, Main.
# Run as: cmake -DNM=<nm> -DPLUGIN=<Vestrel.so> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${PLUGIN}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${PLUGIN}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "Main")
  message(FATAL_ERROR "${PLUGIN} exports [${names}]; it must export Main only")
endif()
message(STATUS "${PLUGIN} exports Main only")
