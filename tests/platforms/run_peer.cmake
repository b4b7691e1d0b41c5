# Runs the program of another build (PROGRAM) with the arguments after "--",
# or reports the test as skipped when that build has not been made.
#   cmake -DPROGRAM=<path> -P run_peer.cmake -- <arguments>
if(NOT EXISTS "${PROGRAM}")
  message("SKIPPED: ${PROGRAM} does not exist; build the configuration of the other byte order first")
  return()
endif()

set(arguments)
set(after_separator FALSE)
foreach(index RANGE ${CMAKE_ARGC})
  if(after_separator AND DEFINED CMAKE_ARGV${index})
    list(APPEND arguments "${CMAKE_ARGV${index}}")
  elseif("${CMAKE_ARGV${index}}" STREQUAL "--")
    set(after_separator TRUE)
  endif()
endforeach()

execute_process(COMMAND ${PROGRAM} ${arguments} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} failed: ${result}")
endif()
