# Plays one scene with the Windows vestrel-host under wine and, when a native
# vestrel-host is at hand, with that one too: both must play it cleanly and
# report the same calls and, with COMPARE=bits, produce the same line (OBJ)
# and the same parameter block, bit for bit.
#   cmake -DWINE_SCRIPT=<wine.sh> -DHOST=<vestrel-host.exe> -DNATIVE_HOST=<vestrel-host or "">
#         -DSCENE=<scene.json> -DOUT=<folder> -DCOMPARE=bits|report
#         -P run_wine_scene.cmake -- <more play options>
set(extra)
set(after_separator FALSE)
foreach(index RANGE ${CMAKE_ARGC})
  if(after_separator AND DEFINED CMAKE_ARGV${index})
    list(APPEND extra "${CMAKE_ARGV${index}}")
  elseif("${CMAKE_ARGV${index}}" STREQUAL "--")
    set(after_separator TRUE)
  endif()
endforeach()

# Plays the scene with one host; sets <side>_text to its report, lines
# that name files and the plug-in's path left out.
function(play side)
  file(REMOVE_RECURSE ${OUT}/${side})
  file(MAKE_DIRECTORY ${OUT}/${side})
  # Paths are given relative to OUT: the Windows program would read an
  # absolute POSIX path as an option ("/work/..."), and relative paths make
  # both reports name the scene alike. Guard pages exist on POSIX only; both
  # sides use canaries so that their reports match.
  file(RELATIVE_PATH scene ${OUT} ${SCENE})
  set(options play ${scene} --memory-check canary --out ${side} --save-block ${side}/block.bin ${extra})
  if(side STREQUAL "windows")
    set(command sh ${WINE_SCRIPT} run ${HOST} ${options})
  else()
    set(command ${NATIVE_HOST} ${options})
  endif()
  execute_process(COMMAND ${command} WORKING_DIRECTORY ${OUT}
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
  message("---- ${side}: ${command}\n${output}${errors}")
  if(result EQUAL 77 AND output MATCHES "SKIPPED:[^\n]*")
    message("${CMAKE_MATCH_0}")
    set(skipped TRUE PARENT_SCOPE)
    return()
  endif()
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${side} vestrel-host exited with ${result}")
  endif()
  if(NOT output MATCHES "result: OK")
    message(FATAL_ERROR "${side} vestrel-host did not report \"result: OK\"")
  endif()
  string(REPLACE "\r" "" output "${output}")
  string(REGEX REPLACE "(^|\n)(plug-in|wrote|host functions looked up)[^\n]*" "" output "${output}")
  set(${side}_text "${output}" PARENT_SCOPE)
endfunction()

play(windows)
if(skipped)
  return()
endif()

if(NOT NATIVE_HOST OR NOT EXISTS "${NATIVE_HOST}")
  message("note: no native vestrel-host (${NATIVE_HOST}); the Windows run is not compared with one")
  return()
endif()
play(native)
if(NOT windows_text STREQUAL native_text)
  message(FATAL_ERROR "the Windows and the native plug-in answered the scene differently (reports above)")
endif()
if(COMPARE STREQUAL "report")
  message("the Windows run matches the native run: report (positions from the C library's sine and cosine are not compared bit for bit)")
  return()
endif()
file(GLOB lines RELATIVE ${OUT}/windows ${OUT}/windows/*.obj)
if(NOT lines)
  message(FATAL_ERROR "the Windows run wrote no OBJ file")
endif()
foreach(file ${lines} block.bin)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/windows/${file} ${OUT}/native/${file}
                  RESULT_VARIABLE different)
  if(different)
    message(FATAL_ERROR "${file} differs between the Windows and the native run")
  endif()
endforeach()
message("the Windows run matches the native run: report, ${lines}, parameter block")
